// Zip archives through minizip: reading an archive held in memory, writing a new one to a file.
#pragma once

#include <string>
#include <vector>

#include "base/ByteBuffer.h"
#include "base/ScopedHandle.h"

// Largest entry read into memory: a directory claiming more is damaged or hostile.
constexpr unsigned long kMaxZipEntryBytes = 256ul * 1024 * 1024;
// Longest entry name we write (our minizip lacks its own length checks).
constexpr size_t kMaxZipEntryName = 1024;
// Most entries an archive may hold: no configuration or loader package comes near it, so a
// directory claiming more is hostile and refused.
constexpr int kMaxZipEntries = 4096;

// Temporary files of archive rebuilds start with this.
extern const char kZipTempPrefix[];

// Zip entry names are compared ignoring ASCII letter case.
bool ZipNamesEqual(const char* a, const char* b);

// minizip's unzFile and zipFile (both void*). Closing a zipFile writes the central directory; a
// writer that needs to know whether that worked takes the handle back with Release.
struct UnzipHandleTraits {
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h);
};
struct ZipHandleTraits {
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h);
};
using CUnzipHandle = CScopedHandle<UnzipHandleTraits>;
using CZipHandle = CScopedHandle<ZipHandleTraits>;

// Neither reader nor writer can be copied: each owns its minizip handle.
class CZipReader {
public:
  // Keeps a shared copy of the bytes while open. Refuses an archive that two readers could see
  // differently: too many entries, a local header naming its entry otherwise than the central
  // directory, names equal ignoring case, a name flagged UTF-8 that is not exactly ANSI text.
  bool Open(const CByteBuffer& archive);
  void Close();

  int Count();
  int Find(const char* name);  // index of the entry, ignoring case; -1 when missing
  bool GetEntry(int index, std::string* name, unsigned long* size);  // the name in the ANSI code page
  // The entry's uncompressed bytes; false when it is too large, damaged, of a method we do not
  // decode or the password is wrong.
  bool Extract(int index, CByteBuffer& out, const char* password = nullptr);

  struct MemoryStream {
    CByteBuffer bytes;
    unsigned long position = 0;
  };

private:
  // What Open learnt of an entry; the position lets minizip return to it without walking.
  struct Entry {
    std::string name;  // in the ANSI code page
    unsigned long size = 0;
    unsigned long directoryOffset = 0;
    unsigned long number = 0;
  };

  bool ReadDirectory();
  bool ReadCurrentEntry(Entry& entry);
  bool GoTo(int index);

  MemoryStream m_stream;
  CUnzipHandle m_zip;  // after the stream it reads from, so it is closed first
  std::vector<Entry> m_entries;
};

class CZipWriter {
public:
  bool Create(const char* path);  // a new archive, replacing any file there
  // Deflates `bytes` into entry `name`; with a password, the entry gets zip's traditional encryption.
  bool Add(const char* name, const CByteBuffer& bytes, const char* password = nullptr);
  bool Close();  // writes the central directory; false when that fails

private:
  CZipHandle m_zip;
};

// Whole-archive operations on zip bytes held in memory; entry names are compared ignoring case.

// The entry's bytes; false when it is missing, empty, damaged or larger than `maxBytes` (refused
// from the directory, before anything is extracted).
bool ReadZipEntry(const CByteBuffer& archive, const char* name, CByteBuffer& out,
                  unsigned long maxBytes = kMaxZipEntryBytes);
bool HasZipEntry(const CByteBuffer& archive, const char* name);
// Puts `bytes` under `name`. When the entry already holds the same bytes nothing changes; otherwise
// the archive is rebuilt (through a temporary file) with the new entry first and every other entry
// after it in the old order. On failure, including an old entry that cannot be copied, the archive
// is left as it was.
bool PutZipEntry(CByteBuffer& archive, const char* name, const CByteBuffer& bytes);
// Rebuilds the archive without `name`; fails, leaving it as it was, when an entry cannot be copied
// or the new archive would be larger than `maxBytes`.
bool RemoveZipEntry(CByteBuffer& archive, const char* name, int maxBytes);
