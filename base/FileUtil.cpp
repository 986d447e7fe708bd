#include "base/FileUtil.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "base/Path.h"
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
