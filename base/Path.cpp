#include "base/Path.h"

#include <shlobj.h>

#include <cstring>

namespace {

// Offset of the last single-byte backslash in an ANSI text, or -1. Double-byte characters are
// stepped over whole, so a trail byte of 0x5C is never taken for a separator.
int LastBackslash(const char* text) {
  int last = -1;
  for (const char* p = text; *p; p = CharNextA(p)) {
    if (*p == '\\') last = static_cast<int>(p - text);
  }
  return last;
}

bool HasAttributes(const char* path, DWORD* attributes) {
  if (!path || !*path) return false;
  *attributes = GetFileAttributesA(path);
  return *attributes != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

void StripTrailingBackslashes(char* text) {
  char* keepEnd = text;  // just past the last character that is not a lone backslash
  for (char* p = text; *p; p = CharNextA(p)) {
    if (*p != '\\') keepEnd = CharNextA(p);
  }
  *keepEnd = '\0';
}

CPath::CPath() : m_text{} {}

CPath::CPath(const char* text) : m_text{} { Set(text); }

CPath::CPath(const CPath& other) : m_text{} { memcpy(m_text, other.m_text, sizeof(m_text)); }

CPath& CPath::operator=(const CPath& other) {
  if (this != &other) memcpy(m_text, other.m_text, sizeof(m_text));
  return *this;
}

bool CPath::Set(const char* text) {
  m_text[0] = '\0';
  if (!text) return true;
  if (strlen(text) > static_cast<size_t>(kMaxPathChars)) return false;
  strcpy(m_text, text);
  StripTrailingBackslashes(m_text);
  return true;
}

const char* CPath::Append(const char* name) {
  if (IsEmpty() || !name) return nullptr;
  size_t length = strlen(m_text);
  if (length + 1 + strlen(name) > static_cast<size_t>(kMaxPathChars)) return nullptr;
  m_text[length] = '\\';
  strcpy(m_text + length + 1, name);
  StripTrailingBackslashes(m_text);
  return m_text;
}

bool CPath::IsFile() const {
  DWORD attributes;
  return HasAttributes(m_text, &attributes) && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CPath::IsDirectory() const {
  DWORD attributes;
  return HasAttributes(m_text, &attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CPath::HasChildFile(const char* name) const {
  if (!IsDirectory()) return false;
  CPath child(*this);
  return child.Append(name) && child.IsFile();
}

CPath CPath::Parent() const {
  CPath parent(*this);
  int cut = LastBackslash(parent.m_text);
  parent.m_text[cut < 0 ? 0 : cut] = '\0';
  StripTrailingBackslashes(parent.m_text);
  return parent;
}

bool CPath::MakeDirectory() const {
  if (IsEmpty()) return false;
  if (IsDirectory()) return true;
  CPath parent = Parent();
  // A drive root ("C:") is a directory, which ends the recursion.
  if (!parent.IsEmpty() && !parent.IsDirectory() && !parent.MakeDirectory()) return false;
  return CreateDirectoryA(m_text, nullptr) != FALSE;
}

bool CPath::CreateParentDirectory() const {
  CPath parent = Parent();
  return parent.MakeDirectory();
}

bool CPath::CreateEmptyFile() const {
  if (IsEmpty()) return false;
  CFileHandle file(
      CreateFileA(m_text, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr));
  return file.IsValid();
}

bool CPath::DeleteTree(ETreeFailure onFailure) const {
  DWORD attributes;
  if (!HasAttributes(m_text, &attributes)) return false;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileA(m_text) != FALSE;
  // A linked directory is removed as a link: what it points at is not ours to delete.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveDirectoryA(m_text) != FALSE;

  CPath entries(*this);
  for (bool found = entries.FindFirst("*.*"); found; found = entries.FindNext()) {
    if (entries.IsDotEntry()) continue;
    CPath child(*this);
    bool deleted = child.Append(entries.c_str()) && child.DeleteTree(onFailure);
    if (!deleted && onFailure == ETreeFailure::kStop) return false;
  }
  entries.EndFind();
  return RemoveDirectoryA(m_text) != FALSE;
}

bool CPath::SetToExePath() {
  char path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (length == 0 || length > static_cast<DWORD>(kMaxPathChars)) {
    m_text[0] = '\0';
    return false;
  }
  return Set(path);
}

bool CPath::SetToExeDirectory() {
  if (!SetToExePath()) return false;
  int cut = LastBackslash(m_text);
  if (cut < 0) {
    m_text[0] = '\0';
    return false;
  }
  m_text[cut] = '\0';
  StripTrailingBackslashes(m_text);
  return !IsEmpty();
}

bool CPath::SetToSpecialFolder(int csidl) {
  m_text[0] = '\0';
  LPITEMIDLIST items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || !items) return false;
  char path[MAX_PATH] = {};
  bool resolved = SHGetPathFromIDListA(items, path) != FALSE;
  CoTaskMemFree(items);  // the shell's allocator is the task allocator
  return resolved && Set(path) && !IsEmpty();
}

bool CPath::FindFirst(const char* pattern) {
  EndFind();
  CPath search(*this);
  if (!search.Append(pattern)) return false;
  WIN32_FIND_DATAA data;
  m_find.Reset(FindFirstFileA(search.c_str(), &data));
  if (!m_find.IsValid()) return false;
  return Set(data.cFileName);
}

bool CPath::FindNext() {
  if (!m_find.IsValid()) return false;
  WIN32_FIND_DATAA data;
  if (!FindNextFileA(m_find.Get(), &data)) return false;
  return Set(data.cFileName);
}

bool CPath::IsDotEntry() const { return strcmp(m_text, ".") == 0 || strcmp(m_text, "..") == 0; }

std::string ExecutablePath() {
  CPath exe;
  exe.SetToExePath();
  return exe.c_str();
}
