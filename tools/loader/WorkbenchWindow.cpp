#include "tools/loader/WorkbenchWindow.h"

#include <cstdlib>
#include <utility>

#include "BuildConfig.h"
#include "app/LoaderContract.h"
#include "tools/loader/CallTrace.h"

const char kAutoCloseVariable[] = "VELMOR_LOADER_AUTOCLOSE_MS";

namespace {

const char kHeadingSuffix[] = " 工作台";
const char kDataDirectoryLabel[] = "数据目录：";
constexpr int kWidth = 520;
constexpr int kHeight = 200;
constexpr int kMargin = 20;
constexpr UINT_PTR kAutoCloseTimer = 1;

// Unregisters the window class when the workbench ends, so a later start entry call registers
// it afresh.
class CWindowClass {
public:
  CWindowClass(HINSTANCE instance, WNDPROC procedure) : m_instance(instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = BuildConfig::kMainWindowClass;
    m_registered = RegisterClassExA(&windowClass) != 0;
  }
  ~CWindowClass() {
    if (m_registered) UnregisterClassA(BuildConfig::kMainWindowClass, m_instance);
  }
  bool IsRegistered() const { return m_registered; }

private:
  HINSTANCE m_instance;
  bool m_registered = false;
};

DWORD AutoCloseDelay() {
  char text[32];
  DWORD length = GetEnvironmentVariableA(kAutoCloseVariable, text, sizeof(text));
  if (length == 0 || length >= sizeof(text)) return 0;
  return strtoul(text, nullptr, 10);
}

}  // namespace

CWorkbenchWindow::CWorkbenchWindow(HINSTANCE instance, std::string productName, std::string dataDirectory)
    : m_instance(instance),
      m_productName(std::move(productName)),
      m_dataDirectory(std::move(dataDirectory)),
      m_showWindowMessage(RegisterWindowMessageA(LoaderContract::kShowWindowMessageName)) {}

bool CWorkbenchWindow::Run() {
  CWindowClass windowClass(m_instance, WindowProc);
  if (!windowClass.IsRegistered() || !Create()) return false;
  TraceCall("window", m_dataDirectory.c_str());
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}

bool CWorkbenchWindow::Create() {
  int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
  std::string title = m_productName + kHeadingSuffix;
  HWND window = CreateWindowExA(0, BuildConfig::kMainWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW, x, y, kWidth,
                                kHeight, nullptr, nullptr, m_instance, this);
  if (!window) return false;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  StartAutoClose(window);
  return true;
}

void CWorkbenchWindow::StartAutoClose(HWND window) {
  DWORD delay = AutoCloseDelay();
  if (delay) SetTimer(window, kAutoCloseTimer, delay, nullptr);
}

LRESULT CALLBACK CWorkbenchWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<CWorkbenchWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  return self ? self->Handle(window, message, wParam, lParam) : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CWorkbenchWindow::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == m_showWindowMessage && m_showWindowMessage != 0) {
    TraceCall("show_request", m_dataDirectory.c_str());
    ComeToFront(window);
    return 0;
  }
  switch (message) {
    case WM_PAINT: Paint(window); return 0;
    // Lets PrintWindow take a picture of the workbench (screenshots of unattended runs).
    case WM_PRINTCLIENT: Draw(window, reinterpret_cast<HDC>(wParam)); return 0;
    case WM_TIMER:
      if (wParam != kAutoCloseTimer) break;
      KillTimer(window, kAutoCloseTimer);
      PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_DESTROY:
      TraceCall("closed", m_dataDirectory.c_str());
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void CWorkbenchWindow::Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  Draw(window, dc);
  EndPaint(window, &paint);
}

void CWorkbenchWindow::Draw(HWND window, HDC dc) {
  RECT area;
  GetClientRect(window, &area);
  FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  InflateRect(&area, -kMargin, -kMargin);
  std::string text = m_productName + kHeadingSuffix + "\r\n\r\n" + kDataDirectoryLabel + m_dataDirectory;
  DrawTextA(dc, text.c_str(), -1, &area, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, oldFont);
}

void CWorkbenchWindow::ComeToFront(HWND window) {
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  ShowWindow(window, SW_SHOW);
  BringWindowToTop(window);
  SetForegroundWindow(window);
}
