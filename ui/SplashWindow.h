// The splash bar shown while the launcher works: 300 × 30, borderless, topmost, never activated,
// with one status line and a close button that ends the process. Creating its window starts the
// worker thread, which runs the loading flow and then closes the window. When the window goes
// for any other reason (another program closes it, a quit message, the session ends), the stop
// event tells the flow to end.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include <atomic>

#include "base/CriticalSection.h"
#include "base/ScopedHandle.h"
#include "base/WinEvent.h"
#include "ui/BaseWindow.h"

class CMemCanvas;
class CSplashWindow;

// The work the worker thread does while the bar is shown; it reports through the window's
// SetStatusText, SetProgressFormat, ReportProgress and ShowMessage, and ends its waits when the
// bar's StopEvent is set.
using SplashFlow = std::function<void(CSplashWindow& splash)>;

class CSplashWindow : public CBaseWindow {
public:
  static const char kStartingText[];  // the status text a bar starts with
  static constexpr int kWidth = 300;
  static constexpr int kHeight = 30;
  static constexpr int kMaxStatusBytes = 259;
  // A stopped flow has this long to end before the process ends, as the close button ends it.
  static constexpr DWORD kWorkerStopMs = 2000;
  static constexpr UINT kClosedExitCode = 0;

  explicit CSplashWindow(SplashFlow flow);
  // Destroys a window still alive, ends the worker (EndFlow), then destroys the image store.
  ~CSplashWindow() override;

  const char* ClassName() const override;  // "velmor_splash_wnd"
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroyed(HWND handle) override;  // sets the stop event

  // The hidden bar in the middle of the work area; RunModal(nullptr, true) shows it. False, with
  // no window left, when the window or its worker thread cannot be created.
  bool CreateCentred();

  // Main thread, once the bar's modal loop has ended: sets the stop event and waits for the
  // worker; one that does not end within kWorkerStopMs ends the process with kClosedExitCode.
  // True when the flow ran to its end before anything asked it to stop.
  bool EndFlow();
  HANDLE StopEvent() const { return m_stop.Get(); }
  bool StopRequested() const { return m_stop.Wait(0); }

  // Worker thread. The status text is cut to 259 bytes, never inside a double-byte character,
  // and painted before SetStatusText returns; without a window nothing is painted (FALSE).
  BOOL SetStatusText(const char* text);
  void SetProgressFormat(const char* format);  // one "%s", the percentage goes there
  BOOL ReportProgress(int done, int total);    // "%.2f%%" of done / total; 0.00% for a total of 0

  // A copy: the worker may be writing the text while the main thread paints it.
  std::string StatusText() const;
  const RECT& TextRect() const { return m_textRect; }
  const RECT& CloseRect() const { return m_closeRect; }

private:
  static DWORD WINAPI WorkerMain(void* parameter);
  bool OnCreate();
  void Layout();
  void Paint(HDC dc);
  void PaintStatusText(CMemCanvas& canvas);
  void OnButtonDown(LPARAM point);
  void OnButtonUp(LPARAM point);

  SplashFlow m_flow;
  std::string m_progressFormat;
  mutable CCriticalSection m_statusLock;  // guards m_statusText
  char m_statusText[kMaxStatusBytes + 1];
  RECT m_textRect;
  RECT m_closeRect;
  bool m_closePressed;
  CWinEvent m_stop;
  CKernelHandle m_worker;
  std::atomic<bool> m_flowCompleted{false};
};
