#include "data/ZipArchive.h"

#include <ctime>
#include <cstring>
#include <unordered_set>

#include <unzip.h>
#include <zip.h>

#include "base/AnsiChars.h"
#include "base/FileUtil.h"
#include "base/TextConverter.h"

const char kZipTempPrefix[] = "velmor_face_";

namespace {

constexpr size_t kNameBufferSize = kMaxZipEntryName + 1;
constexpr unsigned kExtractChunk = 64 * 1024;
// General-purpose flag bit: the name is UTF-8 rather than in the code page of the writer's system.
constexpr uLong kUtf8NameFlag = 1ul << 11;
// A local file header: 30 fixed bytes, the flags among them, then the name and the extra field.
constexpr ZPOS64_T kLocalHeaderSize = 30;
constexpr int kLocalFlagsOffset = 6;
constexpr int kStored = 0;
constexpr uLong kEncryptedFlag = 1;
constexpr uLong kEncryptionHeaderBytes = 12;
constexpr uLong kEmptyDeflateBytes = 2;

using Stream = CZipReader::MemoryStream;

// minizip's file functions over a CByteBuffer: read-only, the whole archive in memory.
voidpf ZCALLBACK MemoryOpen(voidpf opaque, const char*, int) { return opaque; }

uLong ZCALLBACK MemoryRead(voidpf, voidpf stream, void* buffer, uLong size) {
  Stream* memory = static_cast<Stream*>(stream);
  uLong length = static_cast<uLong>(memory->bytes.Length());
  if (memory->position >= length) return 0;
  uLong count = size < length - memory->position ? size : length - memory->position;
  memcpy(buffer, memory->bytes.Data() + memory->position, count);
  memory->position += count;
  return count;
}

uLong ZCALLBACK MemoryWrite(voidpf, voidpf, const void*, uLong) { return 0; }

long ZCALLBACK MemoryTell(voidpf, voidpf stream) { return static_cast<long>(static_cast<Stream*>(stream)->position); }

long ZCALLBACK MemorySeek(voidpf, voidpf stream, uLong offset, int origin) {
  Stream* memory = static_cast<Stream*>(stream);
  uLong length = static_cast<uLong>(memory->bytes.Length());
  uLong base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = memory->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = length; break;
    default: return -1;
  }
  if (offset > length || base > length - offset) return -1;
  memory->position = base + offset;
  return 0;
}

int ZCALLBACK MemoryClose(voidpf, voidpf) { return 0; }

int ZCALLBACK MemoryError(voidpf, voidpf) { return 0; }

zip_fileinfo CurrentFileInfo() {
  zip_fileinfo info = {};
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_s(&local, &now) == 0) {
    info.tmz_date.tm_sec = local.tm_sec;
    info.tmz_date.tm_min = local.tm_min;
    info.tmz_date.tm_hour = local.tm_hour;
    info.tmz_date.tm_mday = local.tm_mday;
    info.tmz_date.tm_mon = local.tm_mon;
    info.tmz_date.tm_year = local.tm_year + 1900;
  }
  return info;
}

// The local header, through which minizip reads the data, names the entry with the same bytes and
// the same UTF-8 flag as the central directory: a reader walking the local headers sees the same
// archive. A raw open checks the local header's signature, method, sizes and name length, and
// tells where the data starts, just past the local name and extra field.
bool LocalHeaderAgrees(unzFile zip, const CByteBuffer& archive, const unz_file_info& info, const char* name) {
  if (unzOpenCurrentFile2(zip, nullptr, nullptr, 1) != UNZ_OK) return false;
  ZPOS64_T data = unzGetCurrentFileZStreamPos64(zip);
  int extra = unzGetLocalExtrafield(zip, nullptr, 0);
  unzCloseCurrentFile(zip);
  ZPOS64_T headerAndName = kLocalHeaderSize + info.size_filename;
  if (extra < 0 || data < headerAndName + extra || data > static_cast<ZPOS64_T>(archive.Length())) return false;
  const BYTE* header = archive.Data() + (data - extra - headerAndName);
  uLong flags = header[kLocalFlagsOffset] | header[kLocalFlagsOffset + 1] << 8;
  if ((flags ^ info.flag) & kUtf8NameFlag) return false;
  return memcmp(header + kLocalHeaderSize, name, info.size_filename) == 0;
}

// The name in the ANSI code page. A UTF-8 name must come back unchanged from the ANSI form: a
// name that is not UTF-8 or has characters ANSI lacks would be found under a name it does not have.
bool AnsiName(const char* raw, uLong flag, std::string& out) {
  out = raw;
  if (!(flag & kUtf8NameFlag)) return true;
  CTextConverter converter;
  const char* ansi = converter.Utf8ToAnsi(raw);
  if (!ansi) return false;
  out = ansi;
  const char* back = converter.AnsiToUtf8(out.c_str());
  return back && strcmp(back, raw) == 0;
}

// Stored or deflated data that is really there. minizip hands out the undecoded bytes of a method
// it lacks (bzip2) as the content, and reads an entry whose directory claims no bytes (sizes left
// to a data descriptor) as empty whatever follows. An empty entry has at most the 2 bytes of an
// empty deflate stream (no 2 bytes encode more), after the header of an encrypted entry.
bool DataReadable(const unz_file_info& info) {
  bool deflated = info.compression_method == Z_DEFLATED;
  if (!deflated && info.compression_method != kStored) return false;
  if (deflated && info.compressed_size == 0) return false;
  if (info.uncompressed_size != 0) return true;
  uLong mostWhenEmpty = (info.flag & kEncryptedFlag ? kEncryptionHeaderBytes : 0) + (deflated ? kEmptyDeflateBytes : 0);
  return info.compressed_size <= mostWhenEmpty;
}

}  // namespace

bool ZipNamesEqual(const char* a, const char* b) { return a && b && AnsiChars::SameIgnoringAsciiCase(a, b); }

void UnzipHandleTraits::Close(Handle h) { unzClose(h); }

void ZipHandleTraits::Close(Handle h) { zipClose(h, nullptr); }

bool CZipReader::Open(const CByteBuffer& archive) {
  Close();
  m_stream.bytes = archive;
  m_stream.position = 0;
  zlib_filefunc_def functions = {MemoryOpen, MemoryRead,  MemoryWrite, MemoryTell,
                                 MemorySeek, MemoryClose, MemoryError, &m_stream};
  m_zip.Reset(unzOpen2(nullptr, &functions));
  if (m_zip.IsValid() && ReadDirectory()) return true;
  Close();
  return false;
}

void CZipReader::Close() {
  m_zip.Reset();
  m_stream.bytes.Clear();
  m_entries.clear();
}

// One pass over the central directory; later lookups use what it recorded.
bool CZipReader::ReadDirectory() {
  unz_global_info global;
  if (unzGetGlobalInfo(m_zip.Get(), &global) != UNZ_OK || global.number_entry > kMaxZipEntries) return false;
  m_entries.reserve(global.number_entry);
  std::unordered_set<std::string> lowerNames;  // equal here exactly when ZipNamesEqual says so
  for (uLong i = 0; i < global.number_entry; ++i) {
    Entry entry;
    if ((i == 0 ? unzGoToFirstFile(m_zip.Get()) : unzGoToNextFile(m_zip.Get())) != UNZ_OK) return false;
    if (!ReadCurrentEntry(entry) || !lowerNames.insert(AnsiChars::AsciiLower(entry.name)).second) return false;
    m_entries.push_back(std::move(entry));
  }
  return true;
}

bool CZipReader::ReadCurrentEntry(Entry& entry) {
  unz_file_pos position;
  unz_file_info info;
  char name[kNameBufferSize];
  if (unzGetFilePos(m_zip.Get(), &position) != UNZ_OK) return false;
  if (unzGetCurrentFileInfo(m_zip.Get(), &info, name, sizeof(name), nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  // minizip leaves a name filling the buffer unterminated; a zero byte inside would hide its rest.
  if (info.size_filename >= sizeof(name) || strlen(name) != info.size_filename) return false;
  if (!LocalHeaderAgrees(m_zip.Get(), m_stream.bytes, info, name) || !AnsiName(name, info.flag, entry.name))
    return false;
  entry.size = info.uncompressed_size;
  entry.directoryOffset = position.pos_in_zip_directory;
  entry.number = position.num_of_file;
  return true;
}

int CZipReader::Count() { return static_cast<int>(m_entries.size()); }

bool CZipReader::GoTo(int index) {
  if (index < 0 || index >= Count()) return false;
  unz_file_pos position = {m_entries[index].directoryOffset, m_entries[index].number};
  return unzGoToFilePos(m_zip.Get(), &position) == UNZ_OK;
}

bool CZipReader::GetEntry(int index, std::string* name, unsigned long* size) {
  if (index < 0 || index >= Count()) return false;
  if (name) *name = m_entries[index].name;
  if (size) *size = m_entries[index].size;
  return true;
}

int CZipReader::Find(const char* name) {
  for (int i = 0; i < Count(); ++i) {
    if (ZipNamesEqual(m_entries[i].name.c_str(), name)) return i;
  }
  return -1;
}

bool CZipReader::Extract(int index, CByteBuffer& out, const char* password) {
  unz_file_info info;
  if (!GoTo(index) || unzGetCurrentFileInfo(m_zip.Get(), &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
    return false;
  unsigned long size = info.uncompressed_size;
  if (size > kMaxZipEntryBytes || !DataReadable(info)) return false;
  CByteBuffer content(static_cast<int>(size));
  if (content.Capacity() < static_cast<int>(size)) return false;  // out of memory
  if (unzOpenCurrentFilePassword(m_zip.Get(), password && *password ? password : nullptr) != UNZ_OK) return false;

  bool ok = true;
  BYTE chunk[kExtractChunk];
  for (;;) {
    int read = unzReadCurrentFile(m_zip.Get(), chunk, sizeof(chunk));
    if (read == 0) break;
    if (read < 0 || content.Length() + read > static_cast<int>(size) || !content.TryAppend(chunk, read)) {
      ok = false;
      break;
    }
  }
  // Closing checks the CRC: a wrong password or damaged data shows up here.
  if (unzCloseCurrentFile(m_zip.Get()) != UNZ_OK) ok = false;
  if (!ok || content.Length() != static_cast<int>(size)) return false;
  out = content;
  return true;
}

bool CZipWriter::Create(const char* path) {
  Close();
  m_zip.Reset(zipOpen(path, APPEND_STATUS_CREATE));
  return m_zip.IsValid();
}

bool CZipWriter::Add(const char* name, const CByteBuffer& bytes, const char* password) {
  if (!m_zip.IsValid() || !name || !*name || strlen(name) > kMaxZipEntryName) return false;
  bool encrypted = password && *password;
  zip_fileinfo info = CurrentFileInfo();
  uLong crc = encrypted ? crc32(crc32(0, nullptr, 0), bytes.Data(), bytes.Length()) : 0;
  if (zipOpenNewFileInZip3(m_zip.Get(), name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION,
                           0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, encrypted ? password : nullptr,
                           crc) != ZIP_OK) {
    return false;
  }
  bool written = bytes.IsEmpty() || zipWriteInFileInZip(m_zip.Get(), bytes.Data(), bytes.Length()) == ZIP_OK;
  return zipCloseFileInZip(m_zip.Get()) == ZIP_OK && written;
}

bool CZipWriter::Close() {
  if (!m_zip.IsValid()) return true;
  return zipClose(m_zip.Release(), nullptr) == ZIP_OK;
}

bool ReadZipEntry(const CByteBuffer& archive, const char* name, CByteBuffer& out, unsigned long maxBytes) {
  CZipReader zip;
  if (!zip.Open(archive)) return false;
  int index = zip.Find(name);
  unsigned long size = 0;
  if (index < 0 || !zip.GetEntry(index, nullptr, &size) || size == 0 || size > maxBytes) return false;
  return zip.Extract(index, out);
}

bool HasZipEntry(const CByteBuffer& archive, const char* name) {
  CZipReader zip;
  return zip.Open(archive) && zip.Find(name) >= 0;
}

namespace {

// Every entry of `archive` except `skipName`, in order; an empty archive has none to copy.
bool CopyEntriesExcept(const CByteBuffer& archive, const char* skipName, CZipWriter& writer) {
  if (archive.IsEmpty()) return true;
  CZipReader reader;
  if (!reader.Open(archive)) return false;
  int count = reader.Count();
  for (int i = 0; i < count; ++i) {
    std::string entryName;
    CByteBuffer content;
    if (!reader.GetEntry(i, &entryName, nullptr)) return false;
    if (ZipNamesEqual(entryName.c_str(), skipName)) continue;
    if (!reader.Extract(i, content) || !writer.Add(entryName.c_str(), content)) return false;
  }
  return true;
}

// A new archive: optionally `name` with `bytes` first, then the old entries other than `name`.
bool Rebuild(const CByteBuffer& archive, const char* name, const CByteBuffer* bytes, const char* tempPath,
             CByteBuffer& out) {
  CZipWriter writer;
  if (!writer.Create(tempPath)) return false;
  if (bytes && !writer.Add(name, *bytes)) return false;
  if (!CopyEntriesExcept(archive, name, writer) || !writer.Close()) return false;
  return out.ReadFromFile(tempPath) > 0;
}

bool RebuildThroughTempFile(const CByteBuffer& archive, const char* name, const CByteBuffer* bytes, CByteBuffer& out) {
  char tempPath[MAX_PATH];
  if (!MakePrefixedTempFile(kZipTempPrefix, tempPath)) return false;
  bool rebuilt = Rebuild(archive, name, bytes, tempPath, out);
  DeleteFileA(tempPath);
  return rebuilt;
}

}  // namespace

bool PutZipEntry(CByteBuffer& archive, const char* name, const CByteBuffer& bytes) {
  CByteBuffer current;
  if (ReadZipEntry(archive, name, current) && SameBytes(current, bytes)) return true;
  CByteBuffer rebuilt;
  if (!RebuildThroughTempFile(archive, name, &bytes, rebuilt)) return false;
  archive = rebuilt;
  return true;
}

bool RemoveZipEntry(CByteBuffer& archive, const char* name, int maxBytes) {
  CByteBuffer rebuilt;
  if (!RebuildThroughTempFile(archive, name, nullptr, rebuilt) || rebuilt.Length() > maxBytes) return false;
  archive = rebuilt;
  return true;
}
