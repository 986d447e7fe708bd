// The sample workbench: one main window that shows the product name and the data directory,
// comes to the front when a second launcher asks, and runs its own message loop until closed.
#pragma once

#include <windows.h>

#include <string>

extern const char kAutoCloseVariable[];

class CWorkbenchWindow {
public:
  CWorkbenchWindow(HINSTANCE instance, std::string productName, std::string dataDirectory);

  // Shows the window and returns when it is closed; false when it cannot be shown at all.
  // VELMOR_LOADER_AUTOCLOSE_MS (milliseconds) closes it by itself for unattended runs.
  bool Run();

private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool Create();
  void StartAutoClose(HWND window);
  void Paint(HWND window);
  void Draw(HWND window, HDC dc);
  void ComeToFront(HWND window);

  HINSTANCE m_instance;
  std::string m_productName;
  std::string m_dataDirectory;
  UINT m_showWindowMessage;
};
