#include "base/FileUtil.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "base/ByteBuffer.h"
#include "base/Path.h"
#include "base/ScopedHandle.h"
#include "base/TextFormat.h"

void DeleteTreeBestEffort(const char* path) { CPath(path).DeleteTree(CPath::ETreeFailure::kGoOn); }

namespace {

constexpr int kPrefixedTempAttempts = 16;

bool GetTempDirectory(char* out) {
  DWORD length = GetTempPathA(MAX_PATH, out);
  return length != 0 && length < MAX_PATH;
}

}  // namespace

bool MakePrefixedTempFile(const char* prefix, char* out) {
  char directory[MAX_PATH];
  if (!prefix || !GetTempDirectory(directory)) return false;
  for (int attempt = 0; attempt < kPrefixedTempAttempts; ++attempt) {
    CPath path(directory);
    std::string name = prefix + NewGuidText() + ".tmp";
    if (!path.Append(name.c_str())) return false;
    CFileHandle file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (file.IsValid()) {
      strcpy(out, path.c_str());
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

bool MakeTempFileName(char* out) {
  char directory[MAX_PATH];
  if (!GetTempDirectory(directory)) return false;
  char path[MAX_PATH];
  if (GetTempFileNameA(directory, "", 0, path) == 0) return false;
  strcpy(out, path);
  return true;
}

namespace {

const char kPartialSuffix[] = ".partial";

PartialWriteHook g_partialWriteHook = nullptr;

bool WriteAll(HANDLE file, const BYTE* data, int length) {
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr) || written == 0) return false;
    data += written;
    length -= static_cast<int>(written);
  }
  return true;
}

// The bytes into a new file at `path`, in two halves so that a test hook sees a torn file, then
// flushed: the move must not reach the disk before the data does.
bool WriteFlushed(const std::string& path, const CByteBuffer& bytes) {
  CFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_ARCHIVE, nullptr));
  if (!file.IsValid()) return false;
  int half = bytes.Length() / 2;
  if (!WriteAll(file.Get(), bytes.Data(), half)) return false;
  if (g_partialWriteHook) g_partialWriteHook(path.c_str());
  return WriteAll(file.Get(), bytes.Data() + half, bytes.Length() - half) && FlushFileBuffers(file.Get());
}

}  // namespace

std::string PartialFileOf(const char* path) {
  if (!path || !*path) return std::string();
  std::string partial = std::string(path) + kPartialSuffix;
  return partial.size() < MAX_PATH ? partial : std::string();
}

void RemovePartialFile(const char* path) {
  std::string partial = PartialFileOf(path);
  if (!partial.empty()) DeleteFileA(partial.c_str());
}

bool ReplaceFileAtomically(const char* path, const CByteBuffer& bytes) {
  std::string partial = PartialFileOf(path);
  if (partial.empty()) return false;
  if (WriteFlushed(partial, bytes) &&
      MoveFileExA(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DWORD error = GetLastError();  // the caller reports why, not why the clean-up failed
  DeleteFileA(partial.c_str());
  SetLastError(error);
  return false;
}

void SetPartialWriteHook(PartialWriteHook hook) { g_partialWriteHook = hook; }
