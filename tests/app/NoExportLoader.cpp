// A valid library that lacks the "QueryInterface" export.
#include <windows.h>

extern "C" __declspec(dllexport) BOOL WINAPI Unrelated() { return TRUE; }
