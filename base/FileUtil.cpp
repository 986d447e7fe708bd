#include "base/FileUtil.h"

#include <windows.h>

#include <cstring>

#include "base/Path.h"

void DeleteTreeBestEffort(const char* path) {
  CPath target(path);
  if (target.IsEmpty()) return;
  if (target.IsFile()) {
    DeleteFileA(target.c_str());
    return;
  }
  DWORD attributes = GetFileAttributesA(target.c_str());
  bool isLink = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (!isLink) {
    CPath entries(target);
    for (bool found = entries.FindFirst("*.*"); found; found = entries.FindNext()) {
      if (entries.IsDotEntry()) continue;
      CPath child(target);
      if (child.Append(entries.c_str())) DeleteTreeBestEffort(child.c_str());
    }
  }
  // Fails harmlessly when something inside had to stay.
  RemoveDirectoryA(target.c_str());
}

bool MakeTempFileName(char* out) {
  char directory[MAX_PATH];
  DWORD length = GetTempPathA(sizeof(directory), directory);
  if (length == 0 || length >= sizeof(directory)) return false;
  char path[MAX_PATH];
  if (GetTempFileNameA(directory, "", 0, path) == 0) return false;
  strcpy(out, path);
  return true;
}
