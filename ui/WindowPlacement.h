// Centring windows over a reference window, always inside the desktop work area.
#pragma once

#include <windows.h>

// The reference is `reference`, else the window's parent, else its owner, else the desktop; an
// invisible reference counts as the desktop, whose rectangle is the work area. A window larger
// than the work area ends up aligned to its right and bottom edges.
void CenterOther(HWND window, HWND reference);
// The same, giving the window a new size.
BOOL CenterOtherSized(HWND window, HWND reference, int width, int height);
