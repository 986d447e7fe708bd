// The least a Windows program with a window does: OLE started, one popup shown, painted and
// destroyed. The demo times the launcher's warm start against it and against a console program,
// so the cost of Wine's window system start is seen apart from the launcher's own work.
#include <windows.h>

#include <ole2.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (FAILED(OleInitialize(nullptr))) return 1;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "velmor_trivial_wnd";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(WS_EX_TOPMOST | WS_EX_NOACTIVATE, windowClass.lpszClassName, "", WS_POPUP, 0, 0, 300,
                                30, nullptr, nullptr, instance, nullptr);
  if (window) {
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    DestroyWindow(window);
  }
  OleUninitialize();
  return window ? 0 : 1;
}
