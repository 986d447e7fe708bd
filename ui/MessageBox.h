// Message boxes shown to the user.
#pragma once

#include <windows.h>

// A message box owned by the desktop window, for start-up and setup actions that have no window.
int ShowDesktopMessage(const char* text, const char* caption, UINT type);
