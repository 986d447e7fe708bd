#include "base/SystemLibrary.h"

#include "base/Path.h"

namespace {

using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);

// The system directory's copy by its full path, for systems whose loader takes no search flags
// (Windows 7 without its loader update): the library's own imports are then looked for beside it.
HMODULE LoadFromSystemDirectory(const char* name) {
  char directory[MAX_PATH];
  UINT length = GetSystemDirectoryA(directory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  CPath path(directory);
  if (!path.Append(name)) return nullptr;
  return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

void RestrictDllSearch() {
  // Looked up, not imported: an import the system lacks would stop the launcher from starting.
  auto restrict = reinterpret_cast<SetDefaultDllDirectoriesProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (restrict) restrict(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

HMODULE SystemLibrary(const char* name) {
  HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
  return LoadFromSystemDirectory(name);
}
