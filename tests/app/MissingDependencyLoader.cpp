// A loader library that imports from a library the system cannot find.
#include <windows.h>

extern "C" __declspec(dllimport) int AbsentFunction();

extern "C" __declspec(dllexport) BOOL WINAPI QueryInterface(const GUID*, void**) { return AbsentFunction() != 0; }
