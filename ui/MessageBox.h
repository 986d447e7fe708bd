// Message boxes shown to the user. Every box runs on the main thread: a worker thread's request
// is sent to the owner window, which shows it and hands back the answer.
#pragma once

#include <windows.h>

// A worker thread's request, passed by address in wParam of the "WM_MessageBox" message
// (ui/WindowMessages.h); it lives on the asking thread's stack while that thread waits. The
// message is registered, so any program on the desktop can send it: only the one request this
// process has pending is ever read.
struct MessageBoxRequest {
  const char* text;
  const char* caption;
  UINT type;
};

// Result when the centring hook cannot be installed: no box was shown.
constexpr int kMessageBoxNotShown = -1;

// A box owned by `owner` (a CBaseWindow's window). On the main thread it is shown at once; from
// any other thread the request is sent to the owner and the caller waits for the answer (0 when
// the owner no longer exists, kMessageBoxNotShown while another thread's request is pending).
int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type);

// The owner's side of "WM_MessageBox": shows the pending request when `wParam` is its address,
// else shows nothing and answers 0.
LRESULT AnswerMessageBoxRequest(HWND owner, WPARAM wParam);

// A box on the calling thread: the owner (or, when it is disabled, the active window) is brought
// to the foreground, and the box is centred over it within the work area.
int ShowCentredMessageBox(HWND owner, const char* text, const char* caption, UINT type);

// A message box owned by the desktop window, for start-up and setup actions that have no window.
int ShowDesktopMessage(const char* text, const char* caption, UINT type);
