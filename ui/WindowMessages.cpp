#include "ui/WindowMessages.h"

namespace {

const UINT g_messageBoxRequest = RegisterWindowMessageA("WM_MessageBox");

}  // namespace

UINT MessageBoxRequestMessage() { return g_messageBoxRequest; }
