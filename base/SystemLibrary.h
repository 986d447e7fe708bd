// Libraries that are not KnownDLLs are loaded at run time from the system directory only. A static
// import of one would be looked for beside the executable before any of our code runs, so a copy
// planted there (or in the current directory, or on PATH) would run inside the launcher.
#pragma once

#include <windows.h>

// Takes the current directory and PATH out of where the process's later loads look, leaving the
// application folder and the system directories; where the system lacks the call, nothing changes.
void RestrictDllSearch();

// The system's own library `name` (such as "version.dll"), loaded for the rest of the process:
// callers keep what they look up in it. Null when the system has none.
HMODULE SystemLibrary(const char* name);

// An export of the system library `library`; null when either is missing.
template <typename Function>
Function SystemFunction(const char* library, const char* name) {
  HMODULE module = SystemLibrary(library);
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
