#include "ui/SplashWindow.h"

#include <cstdio>
#include <cstring>

#include "base/AnsiChars.h"
#include "base/ByteBuffer.h"
#include "base/ComScope.h"
#include "ui/draw/GdiHandles.h"
#include "ui/draw/ImageAttributes.h"
#include "ui/draw/ImageStore.h"
#include "ui/draw/MemCanvas.h"

namespace {

const char kClassName[] = "velmor_splash_wnd";
const char kCloseImage[] = "close.png";
const char kCloseResourceType[] = "PNG";
constexpr WORD kCloseResourceId = 103;

constexpr DWORD kExStyle = WS_EX_NOACTIVATE | WS_EX_TOPMOST;
constexpr int kTextMargin = 10;
constexpr int kTextHeight = 30;
constexpr int kCloseMargin = 2;
constexpr int kCloseSize = 24;
constexpr COLORREF kFrameColor = RGB(102, 102, 102);
constexpr UINT kTextFormat = DT_SINGLELINE | DT_VCENTER;
constexpr UINT kRepaintNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
constexpr int kProgressTextBytes = 1025;  // wsprintfA writes at most 1024 characters and the zero
constexpr DWORD kWorkerDone = 1;
constexpr WPARAM kFlowEnded = 1;  // the worker's WM_CLOSE

// Copies at most `limit` bytes of whole characters (ANSI code page) and the terminating zero.
void CopyWholeCharacters(char* out, const char* text, int limit) {
  const char* end = text;
  while (*end) {
    const char* next = AnsiChars::Next(end);
    if (next - text > limit) break;
    end = next;
  }
  memcpy(out, text, end - text);
  out[end - text] = '\0';
}

POINT PointOf(LPARAM lParam) { return {static_cast<LONG>(LOWORD(lParam)), static_cast<LONG>(HIWORD(lParam))}; }

// Waits at most `timeoutMs` for a thread while answering messages other threads send to this one
// (a worker blocked in SendMessage would otherwise never finish); true when the thread ended.
bool WaitAnsweringSends(HANDLE thread, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    DWORD spent = GetTickCount() - start;
    DWORD left = spent < timeoutMs ? timeoutMs - spent : 0;
    DWORD waited = MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_SENDMESSAGE);
    if (waited != WAIT_OBJECT_0 + 1) return waited == WAIT_OBJECT_0;
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

const char CSplashWindow::kStartingText[] = "请稍后，正在启动...";

CSplashWindow::CSplashWindow(SplashFlow flow)
    : m_flow(std::move(flow)), m_statusText{}, m_textRect{}, m_closeRect{}, m_closePressed(false) {}

CSplashWindow::~CSplashWindow() {
  if (IsAlive()) Destroy();
  EndFlow();
  DestroyImageStore();
}

const char* CSplashWindow::ClassName() const { return kClassName; }

bool CSplashWindow::CreateCentred() {
  return Create("", nullptr, WS_POPUP, kExStyle, 0, 0, kWidth, kHeight, nullptr) != nullptr;
}

LRESULT CSplashWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    // -1 fails the window's creation: a bar without its worker would stay up for ever.
    case WM_CREATE: return OnCreate() ? 1 : -1;
    case WM_SIZE: Layout(); return 1;
    case WM_ERASEBKGND: return 1;
    // Wine activates a clicked popup despite WS_EX_NOACTIVATE; Windows agrees with this answer.
    case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(m_handle, &paint);
      if (dc) Paint(dc);
      EndPaint(m_handle, &paint);
      return 1;
    }
    case WM_LBUTTONDOWN: OnButtonDown(lParam); return 1;
    case WM_LBUTTONUP: OnButtonUp(lParam); return 1;
    // The session ends: go as for any close, so that the flow stops.
    case WM_ENDSESSION:
      if (wParam) CBaseWindow::OnMessage(WM_CLOSE, 0, 0);
      return 0;
    default: return CBaseWindow::OnMessage(message, wParam, lParam);
  }
}

void CSplashWindow::OnDestroyed(HWND) { m_stop.Set(); }

// The bar is placed before its worker starts: the flow may look at where it is.
bool CSplashWindow::OnCreate() {
  Layout();
  Center(nullptr);
  CByteBuffer closeImage;
  if (closeImage.LoadFromResource(MAKEINTRESOURCEA(kCloseResourceId), kCloseResourceType) > 0) {
    GetImageStore()->AddPackageEntry(kCloseImage, closeImage);
  }
  SetStatusText(kStartingText);
  m_worker.Reset(CreateThread(nullptr, 0, WorkerMain, this, 0, nullptr));
  return m_worker.IsValid();
}

void CSplashWindow::Layout() {
  RECT client = {};
  GetClientRect(m_handle, &client);
  m_textRect = {client.left + kTextMargin, client.bottom - kTextHeight, client.right - kTextMargin, client.bottom};
  m_closeRect = {client.right - kCloseMargin - kCloseSize, client.top + kCloseMargin, client.right - kCloseMargin,
                 client.top + kCloseMargin + kCloseSize};
}

void CSplashWindow::Paint(HDC dc) {
  RECT client = {};
  GetClientRect(m_handle, &client);
  CMemCanvas canvas;
  if (!canvas.Create(dc, client.right, client.bottom)) return;
  canvas.FillRect(client, reinterpret_cast<HBRUSH>(COLOR_MENU + 1));
  PaintStatusText(canvas);
  CBrushHandle frame(CreateSolidBrush(kFrameColor));
  canvas.FrameRect(client, frame.Get());
  DrawSkinImage(canvas.GetDC(), m_closeRect, m_closeRect, kCloseImage, nullptr);
  canvas.Blit(dc, 0, 0, client.right, client.bottom, 0, 0, SRCCOPY);
}

void CSplashWindow::PaintStatusText(CMemCanvas& canvas) {
  std::string text = StatusText();
  int state = canvas.SaveState();
  canvas.SetBkMode(TRANSPARENT);
  if (!text.empty()) {
    canvas.SelectObject(GetStockObject(DEFAULT_GUI_FONT));
    RECT rect = m_textRect;
    canvas.DrawText(text.c_str(), rect, kTextFormat);
  }
  canvas.RestoreState(state);
}

std::string CSplashWindow::StatusText() const {
  CLock lock(m_statusLock);
  return m_statusText;
}

void CSplashWindow::OnButtonDown(LPARAM point) {
  POINT at = PointOf(point);
  m_closePressed = PtInRect(&m_closeRect, at) != FALSE;
}

void CSplashWindow::OnButtonUp(LPARAM point) {
  POINT at = PointOf(point);
  if (m_closePressed && PtInRect(&m_closeRect, at)) ExitProcess(kClosedExitCode);
  m_closePressed = false;
}

BOOL CSplashWindow::SetStatusText(const char* text) {
  {
    CLock lock(m_statusLock);
    CopyWholeCharacters(m_statusText, text ? text : "", kMaxStatusBytes);
  }
  // A null handle would repaint the whole desktop.
  HWND window = m_handle;
  return window ? RedrawWindow(window, nullptr, nullptr, kRepaintNow) : FALSE;
}

void CSplashWindow::SetProgressFormat(const char* format) { m_progressFormat = format ? format : ""; }

BOOL CSplashWindow::ReportProgress(int done, int total) {
  float percent = total != 0 ? static_cast<float>(done) / static_cast<float>(total) * 100.0f : 0.0f;
  char percentText[32];
  snprintf(percentText, sizeof(percentText), "%.2f%%", percent);
  char status[kProgressTextBytes];
  wsprintfA(status, m_progressFormat.c_str(), percentText);
  return SetStatusText(status);
}

DWORD WINAPI CSplashWindow::WorkerMain(void* parameter) {
  CSplashWindow* splash = static_cast<CSplashWindow*>(parameter);
  {
    COleScope ole;
    if (splash->m_flow) splash->m_flow(*splash);
  }
  splash->m_flowCompleted = !splash->StopRequested();
  PostMessageA(splash->GetHandle(), WM_CLOSE, kFlowEnded, 0);
  return kWorkerDone;
}

bool CSplashWindow::EndFlow() {
  m_stop.Set();
  if (m_worker.IsValid() && !WaitAnsweringSends(m_worker.Get(), kWorkerStopMs)) ExitProcess(kClosedExitCode);
  m_worker.Reset();
  return m_flowCompleted;
}
