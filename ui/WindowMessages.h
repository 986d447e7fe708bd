// Window messages registered by name, the same number in every process of the session.
#pragma once

#include <windows.h>

// "WM_MessageBox": wParam points to a MessageBoxRequest (ui/MessageBox.h), lParam is 0. Registered
// once during static initialisation, before WinMain.
UINT MessageBoxRequestMessage();

// "get_show_window_msg": posted (0, 0) to a running workbench's main window to bring it forward.
// Registered on each call; the system answers with the same number every time.
UINT ShowWindowRequestMessage();
