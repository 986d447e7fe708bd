#include "ui/WindowMessages.h"

namespace {

const UINT g_messageBoxRequest = RegisterWindowMessageA("WM_MessageBox");

}  // namespace

UINT MessageBoxRequestMessage() { return g_messageBoxRequest; }

UINT ShowWindowRequestMessage() { return RegisterWindowMessageA("get_show_window_msg"); }
