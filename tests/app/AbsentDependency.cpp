// A library that is built but kept where no loader looks, so its importers cannot be loaded.
#include <windows.h>

extern "C" __declspec(dllexport) int AbsentFunction() { return 1; }
