#include "data/ZipArchive.h"

#include <ctime>
#include <cstring>

#include <unzip.h>
#include <zip.h>

#include "base/FileUtil.h"
#include "base/Md5.h"

const char kZipTempPrefix[] = "velmor_face_";

namespace {

constexpr size_t kNameBufferSize = kMaxZipEntryName + 1;
constexpr unsigned kExtractChunk = 64 * 1024;

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

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

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

}  // namespace

bool ZipNamesEqual(const char* a, const char* b) {
  if (!a || !b) return false;
  for (; *a && *b; ++a, ++b) {
    if (AsciiLower(*a) != AsciiLower(*b)) return false;
  }
  return *a == *b;
}

CZipReader::CZipReader() : m_zip(nullptr) {}

CZipReader::~CZipReader() { Close(); }

bool CZipReader::Open(const CByteBuffer& archive) {
  Close();
  m_stream.bytes = archive;
  m_stream.position = 0;
  zlib_filefunc_def functions = {MemoryOpen, MemoryRead,  MemoryWrite, MemoryTell,
                                 MemorySeek, MemoryClose, MemoryError, &m_stream};
  m_zip = unzOpen2(nullptr, &functions);
  if (!m_zip) m_stream.bytes.Clear();
  return m_zip != nullptr;
}

void CZipReader::Close() {
  if (m_zip) unzClose(m_zip);
  m_zip = nullptr;
  m_stream.bytes.Clear();
}

int CZipReader::Count() {
  unz_global_info info;
  if (!m_zip || unzGetGlobalInfo(m_zip, &info) != UNZ_OK) return 0;
  return static_cast<int>(info.number_entry);
}

bool CZipReader::GoTo(int index) {
  if (!m_zip || index < 0 || unzGoToFirstFile(m_zip) != UNZ_OK) return false;
  for (int i = 0; i < index; ++i) {
    if (unzGoToNextFile(m_zip) != UNZ_OK) return false;
  }
  return true;
}

bool CZipReader::GetEntry(int index, std::string* name, unsigned long* size) {
  if (!GoTo(index)) return false;
  unz_file_info info;
  char buffer[kNameBufferSize];
  if (unzGetCurrentFileInfo(m_zip, &info, buffer, sizeof(buffer), nullptr, 0, nullptr, 0) != UNZ_OK) return false;
  if (name) *name = buffer;
  if (size) *size = info.uncompressed_size;
  return true;
}

int CZipReader::Find(const char* name) {
  int count = Count();
  std::string entryName;
  for (int i = 0; i < count; ++i) {
    if (GetEntry(i, &entryName, nullptr) && ZipNamesEqual(entryName.c_str(), name)) return i;
  }
  return -1;
}

bool CZipReader::Extract(int index, CByteBuffer& out, const char* password) {
  unsigned long size = 0;
  if (!GetEntry(index, nullptr, &size) || size > kMaxZipEntryBytes) return false;
  CByteBuffer content(static_cast<int>(size));
  if (content.Capacity() < static_cast<int>(size)) return false;  // out of memory
  if (unzOpenCurrentFilePassword(m_zip, password && *password ? password : nullptr) != UNZ_OK) return false;

  bool ok = true;
  BYTE chunk[kExtractChunk];
  for (;;) {
    int read = unzReadCurrentFile(m_zip, chunk, sizeof(chunk));
    if (read == 0) break;
    if (read < 0 || content.Length() + read > static_cast<int>(size)) {
      ok = false;
      break;
    }
    content.Append(chunk, read);
  }
  // Closing checks the CRC: a wrong password or damaged data shows up here.
  if (unzCloseCurrentFile(m_zip) != UNZ_OK) ok = false;
  if (!ok || content.Length() != static_cast<int>(size)) return false;
  out = content;
  return true;
}

CZipWriter::CZipWriter() : m_zip(nullptr) {}

CZipWriter::~CZipWriter() { Close(); }

bool CZipWriter::Create(const char* path) {
  Close();
  m_zip = zipOpen(path, APPEND_STATUS_CREATE);
  return m_zip != nullptr;
}

bool CZipWriter::Add(const char* name, const CByteBuffer& bytes, const char* password) {
  if (!m_zip || !name || !*name || strlen(name) > kMaxZipEntryName) return false;
  bool encrypted = password && *password;
  zip_fileinfo info = CurrentFileInfo();
  uLong crc = encrypted ? crc32(crc32(0, nullptr, 0), bytes.Data(), bytes.Length()) : 0;
  if (zipOpenNewFileInZip3(m_zip, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0,
                           -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, encrypted ? password : nullptr,
                           crc) != ZIP_OK) {
    return false;
  }
  bool written = bytes.IsEmpty() || zipWriteInFileInZip(m_zip, bytes.Data(), bytes.Length()) == ZIP_OK;
  return zipCloseFileInZip(m_zip) == ZIP_OK && written;
}

bool CZipWriter::Close() {
  if (!m_zip) return true;
  bool closed = zipClose(m_zip, nullptr) == ZIP_OK;
  m_zip = nullptr;
  return closed;
}

bool ReadZipEntry(const CByteBuffer& archive, const char* name, CByteBuffer& out) {
  CZipReader zip;
  if (!zip.Open(archive)) return false;
  int index = zip.Find(name);
  unsigned long size = 0;
  if (index < 0 || !zip.GetEntry(index, nullptr, &size) || size == 0) return false;
  return zip.Extract(index, out);
}

bool HasZipEntry(const CByteBuffer& archive, const char* name) {
  CZipReader zip;
  return zip.Open(archive) && zip.Find(name) >= 0;
}

namespace {

bool SameBytes(const CByteBuffer& a, const CByteBuffer& b) {
  if (a.Length() != b.Length()) return false;
  char digestA[kMd5HexSize], digestB[kMd5HexSize];
  Md5Hex(a, 0, digestA, sizeof(digestA));
  Md5Hex(b, 0, digestB, sizeof(digestB));
  return Md5Equal(digestA, digestB);
}

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
