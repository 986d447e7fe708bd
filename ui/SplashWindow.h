// The splash bar shown while the launcher works: 300 × 30, borderless, topmost, never activated,
// with one status line and a close button that ends the process. Creating its window starts the
// worker thread, which runs the loading flow and then closes the window.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/ScopedHandle.h"
#include "ui/BaseWindow.h"

class CMemCanvas;
class CSplashWindow;

// The work the worker thread does while the bar is shown; it reports through the window's
// SetStatusText, SetProgressFormat, ReportProgress and ShowMessage.
using SplashFlow = std::function<void(CSplashWindow& splash)>;

class CSplashWindow : public CBaseWindow {
public:
  static constexpr int kWidth = 300;
  static constexpr int kHeight = 30;
  static constexpr int kMaxStatusBytes = 259;

  explicit CSplashWindow(SplashFlow flow);
  // Waits for the worker thread (destroying a window still alive first), then destroys the image store.
  ~CSplashWindow() override;

  const char* ClassName() const override;  // "velmor_splash_wnd"
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  // The hidden bar in the middle of the work area; RunModal(nullptr, true) shows it.
  bool CreateCentred();

  // Worker thread. The status text is cut to 259 bytes, never inside a double-byte character,
  // and painted before SetStatusText returns.
  BOOL SetStatusText(const char* text);
  void SetProgressFormat(const char* format);  // one "%s", the percentage goes there
  BOOL ReportProgress(int done, int total);    // "%.2f%%" of done / total; 0.00% for a total of 0

  const char* StatusText() const { return m_statusText; }
  const RECT& TextRect() const { return m_textRect; }
  const RECT& CloseRect() const { return m_closeRect; }

private:
  static DWORD WINAPI WorkerMain(void* parameter);
  void OnCreate();
  void Layout();
  void Paint(HDC dc);
  void PaintStatusText(CMemCanvas& canvas);
  void OnButtonDown(LPARAM point);
  void OnButtonUp(LPARAM point);
  void WaitForWorker();

  SplashFlow m_flow;
  std::string m_progressFormat;
  char m_statusText[kMaxStatusBytes + 1];
  RECT m_textRect;
  RECT m_closeRect;
  bool m_closePressed;
  CKernelHandle m_worker;
};
