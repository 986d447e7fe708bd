// A library planted where the launcher must never look for one (beside the executable, under the
// name of a system library): once loaded, it leaves "<its file name>.loaded" in the folder that
// VELMOR_PLANTED_MARKERS names.
#include <windows.h>

#include <string>

#include "base/ScopedHandle.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char folder[MAX_PATH], self[MAX_PATH];
  DWORD folderLength = GetEnvironmentVariableA("VELMOR_PLANTED_MARKERS", folder, MAX_PATH);
  if (folderLength == 0 || folderLength >= MAX_PATH || !GetModuleFileNameA(instance, self, MAX_PATH)) return TRUE;
  std::string name = self;
  name = name.substr(name.find_last_of('\\') + 1);  // the test names its copies in ASCII
  CFileHandle marker(CreateFileA((std::string(folder) + "\\" + name + ".loaded").c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, 0, nullptr));
  return TRUE;
}
