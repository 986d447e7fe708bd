#include "ui/MessageBox.h"

#include <atomic>

#include "base/MainThread.h"
#include "base/ScopedHandle.h"
#include "ui/WindowMessages.h"
#include "ui/WindowPlacement.h"

namespace {

const char kMessageBoxClass[] = "#32770";
constexpr int kClassNameChars = 260;

struct HookTraits {
  using Handle = HHOOK;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::UnhookWindowsHookEx(h); }
};

// The one centring hook; main thread only.
CScopedHandle<HookTraits> g_centringHook;

// The request a worker thread waits on, if any; its owner window claims it once.
std::atomic<const MessageBoxRequest*> g_pendingRequest{nullptr};

bool IsMessageBoxWindow(HWND window) {
  char name[kClassNameChars];
  return GetClassNameA(window, name, sizeof(name)) && lstrcmpiA(name, kMessageBoxClass) == 0;
}

// Centres the box once its WM_INITDIALOG has returned, then unhooks. By then the box has its final
// size and position on every system: Wine lays the box out and centres it on the screen inside
// WM_INITDIALOG, after the box's first WM_SIZE.
LRESULT CALLBACK CentringHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0) {
    const CWPRETSTRUCT* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (call->message == WM_INITDIALOG && IsMessageBoxWindow(call->hwnd)) {
      CenterOther(call->hwnd, nullptr);
      g_centringHook.Reset();
    }
  }
  return CallNextHookEx(g_centringHook.Get(), code, wParam, lParam);
}

}  // namespace

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  if (IsMainThread()) return ShowCentredMessageBox(owner, text, caption, type);
  MessageBoxRequest request = {text, caption, type};
  const MessageBoxRequest* idle = nullptr;
  if (!g_pendingRequest.compare_exchange_strong(idle, &request)) return kMessageBoxNotShown;
  LRESULT answer = SendMessageA(owner, MessageBoxRequestMessage(), reinterpret_cast<WPARAM>(&request), 0);
  // Unclaimed when the owner was gone or someone else's message claimed it: withdraw it.
  const MessageBoxRequest* mine = &request;
  g_pendingRequest.compare_exchange_strong(mine, nullptr);
  return static_cast<int>(answer);
}

LRESULT AnswerMessageBoxRequest(HWND owner, WPARAM wParam) {
  const MessageBoxRequest* request = reinterpret_cast<const MessageBoxRequest*>(wParam);
  if (!request || !g_pendingRequest.compare_exchange_strong(request, nullptr)) return 0;
  return ShowCentredMessageBox(owner, request->text, request->caption, request->type);
}

int ShowCentredMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  g_centringHook.Reset(
      SetWindowsHookExA(WH_CALLWNDPROCRET, CentringHook, GetModuleHandleA(nullptr), GetCurrentThreadId()));
  if (!g_centringHook.IsValid()) return kMessageBoxNotShown;
  // A disabled owner gives way to the active window before anything is brought forward: Wine
  // activates even a disabled window for SetForegroundWindow.
  if (!IsWindowEnabled(owner) && GetActiveWindow()) owner = GetActiveWindow();
  if (GetForegroundWindow() != owner) SetForegroundWindow(owner);
  int result = MessageBoxA(owner, text, caption, type);
  g_centringHook.Reset();
  return result;
}

int ShowDesktopMessage(const char* text, const char* caption, UINT type) {
  return MessageBoxA(GetDesktopWindow(), text, caption, type);
}
