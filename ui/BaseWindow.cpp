#include "ui/BaseWindow.h"

#include <cstdarg>
#include <string>

#include "base/ProductDomain.h"
#include "base/TextFormat.h"
#include "ui/MessageBox.h"
#include "ui/WindowMessages.h"
#include "ui/WindowPlacement.h"

namespace {

constexpr UINT kDefaultClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
constexpr UINT kHideFlags = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW;
constexpr int kQuitExitCode = 1;  // WM_QUIT posted again after a modal loop it ended

CBaseWindow* ObjectOf(HWND window) { return reinterpret_cast<CBaseWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

}  // namespace

CBaseWindow::CBaseWindow() : m_handle(nullptr), m_defaultProc(DefWindowProcA) {}

CBaseWindow::~CBaseWindow() {
  if (m_handle && IsWindow(m_handle) && ObjectOf(m_handle) == this) SetWindowLongPtrA(m_handle, GWLP_USERDATA, 0);
}

const char* CBaseWindow::ClassName() const {
  static const std::string name = ProductWebAddress();
  return name.c_str();
}

UINT CBaseWindow::ClassStyle() const { return kDefaultClassStyle; }

void CBaseWindow::OnDestroyed(HWND) {}

bool CBaseWindow::EnsureClassRegistered() {
  HINSTANCE module = GetModuleHandleA(nullptr);
  WNDCLASSEXA info = {};
  info.cbSize = sizeof(info);
  if (GetClassInfoExA(module, ClassName(), &info)) return true;
  info.style = ClassStyle();
  info.lpfnWndProc = BaseWindowProc;
  info.hInstance = module;
  info.hCursor = LoadCursorA(nullptr, reinterpret_cast<const char*>(IDC_ARROW));
  info.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_MENU + 1);
  info.lpszClassName = ClassName();
  return RegisterClassExA(&info) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CBaseWindow::Create(const char* name, HWND parent, DWORD style, DWORD exStyle, int x, int y, int width, int height,
                         HMENU menu) {
  if (!EnsureClassRegistered()) return nullptr;
  m_handle = CreateWindowExA(exStyle, ClassName(), name, style, x, y, width, height, parent, menu,
                             GetModuleHandleA(nullptr), this);
  return m_handle;
}

HWND CBaseWindow::Create(const char* name, HWND parent, DWORD style, DWORD exStyle, const RECT& rect, HMENU menu) {
  return Create(name, parent, style, exStyle, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                menu);
}

bool CBaseWindow::CreatePopup(HWND parent, DWORD style) {
  return Create("", parent, style, 0, 0, 0, 0, 0, nullptr) != nullptr;
}

LRESULT CALLBACK CBaseWindow::BaseWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CBaseWindow* object = nullptr;
  if (message == WM_NCCREATE) {
    object = static_cast<CBaseWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    if (object) {
      object->m_handle = window;
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
    }
  } else {
    object = ObjectOf(window);
  }
  if (!object) return DefWindowProcA(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    LRESULT result = CallWindowProcA(object->m_defaultProc, window, message, wParam, lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    object->m_handle = nullptr;
    object->OnDestroyed(window);
    return result;
  }
  return object->OnMessage(message, wParam, lParam);
}

LRESULT CBaseWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) return 0;
  if (message == WM_CLOSE) {
    Destroy();
    // The handle is null now, so this reaches the thread's queue and ends a modal loop of ours.
    PostMessageA(m_handle, WM_CLOSE, 0, 0);
    return 0;
  }
  if (message == MessageBoxRequestMessage()) return AnswerMessageBoxRequest(m_handle, wParam);
  return CallWindowProcA(m_defaultProc, m_handle, message, wParam, lParam);
}

int CBaseWindow::RunModal(HWND parent, bool center) {
  if (!IsWindow(m_handle) && !CreatePopup(parent, WS_POPUP)) return 0;
  if (parent && !IsWindowEnabled(parent) && IsWindowVisible(parent) && GetActiveWindow()) parent = GetActiveWindow();
  bool parentWasEnabled = parent && IsWindowEnabled(parent);
  if (parent) EnableWindow(parent, FALSE);
  if (center) Center(parent);
  Show();

  LoopEnd end = RunMessageLoop();

  SetWindowPos(m_handle, nullptr, 0, 0, 0, 0, kHideFlags);
  if (parent) {
    EnableWindow(parent, parentWasEnabled);
    if (m_handle && GetActiveWindow() == m_handle) SetActiveWindow(parent);
  }
  Destroy();
  if (end.quit) PostQuitMessage(kQuitExitCode);
  return end.result;
}

CBaseWindow::LoopEnd CBaseWindow::RunMessageLoop() {
  MSG message;
  for (;;) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) return {0, true};
    if (got == -1) return {0, false};
    if (EndsModalLoop(message)) return {message.message == WM_CLOSE ? static_cast<int>(message.wParam) : 0, false};
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// Messages for this window (or, once it is destroyed, thread messages) that end its loop.
bool CBaseWindow::EndsModalLoop(const MSG& message) const {
  if (message.hwnd != m_handle) return false;
  return message.message == WM_CLOSE || message.message == WM_DESTROY ||
         (message.message == WM_SYSCOMMAND && (message.wParam & 0xFFF0) == SC_CLOSE);
}

BOOL CBaseWindow::Show() { return ShowWindow(m_handle, SW_SHOW); }

BOOL CBaseWindow::Hide() { return ShowWindow(m_handle, SW_HIDE); }

BOOL CBaseWindow::Destroy() { return DestroyWindow(m_handle); }

BOOL CBaseWindow::IsAlive() const { return IsWindow(m_handle); }

BOOL CBaseWindow::GetRect(RECT& out) const { return GetWindowRect(m_handle, &out); }

void CBaseWindow::Center(HWND reference) { CenterOther(m_handle, reference); }

BOOL CBaseWindow::CenterSized(HWND reference, int width, int height) {
  return CenterOtherSized(m_handle, reference, width, height);
}

int CBaseWindow::ShowMessage(const char* text, const char* caption, UINT type) {
  return ShowMessageBox(m_handle, text, caption, type);
}

int CBaseWindow::ShowMessageFormat(const char* caption, UINT type, const char* format, ...) {
  std::string text;
  va_list arguments;
  va_start(arguments, format);
  FormatStringV(text, format, arguments);
  va_end(arguments);
  return ShowMessage(text.c_str(), caption, type);
}
