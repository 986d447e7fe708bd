// Window messages registered by name, the same number in every process of the session.
#pragma once

#include <windows.h>

// "WM_MessageBox": wParam points to a MessageBoxRequest (ui/MessageBox.h), lParam is 0. Registered
// once during static initialisation, before WinMain.
UINT MessageBoxRequestMessage();
