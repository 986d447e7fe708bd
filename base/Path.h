// A path of at most 259 characters, joined with single backslashes and never ending in one.
// Also walks a directory: a successful FindFirst/FindNext replaces the text with the entry's name.
#pragma once

#include <string>

#include "base/ScopedHandle.h"

constexpr int kMaxPathChars = 259;  // paths live in MAX_PATH (260-byte) buffers

class CPath {
public:
  CPath();
  explicit CPath(const char* text);
  CPath(const CPath& other);  // copies the text, never an open enumeration
  CPath& operator=(const CPath& other);

  // A text longer than 259 characters gives the empty path, never a truncated one.
  bool Set(const char* text);
  const char* c_str() const { return m_text; }
  bool IsEmpty() const { return m_text[0] == '\0'; }

  // Null (path unchanged) for an empty path or when the result would be too long.
  const char* Append(const char* name);

  bool IsFile() const;
  bool IsDirectory() const;
  bool HasChildFile(const char* name) const;

  bool MakeDirectory() const;  // with every missing parent
  bool CreateParentDirectory() const;
  bool CreateEmptyFile() const;  // keeps an existing file's content
  // Deletes a file, or a directory with everything below it; a linked directory goes as a link.
  // kStop ends at the first entry that cannot be deleted, kGoOn deletes all it can. True when
  // the path is gone.
  enum class ETreeFailure { kStop, kGoOn };
  bool DeleteTree(ETreeFailure onFailure = ETreeFailure::kStop) const;

  bool SetToExeDirectory();
  bool SetToExePath();
  bool SetToSpecialFolder(int csidl);  // CSIDL_*; empty when the shell cannot resolve it

  bool FindFirst(const char* pattern);
  bool FindNext();
  void EndFind() { m_find.Reset(); }
  bool IsDotEntry() const;

  CPath Parent() const;  // cut at the last backslash

private:
  char m_text[kMaxPathChars + 1];
  CFindHandle m_find;
};

// This executable's full path (empty if it cannot be had).
std::string ExecutablePath();

// Strips trailing backslashes, aware of double-byte characters whose second byte is 0x5C.
void StripTrailingBackslashes(char* text);
