// The base of every window of the launcher: one top-level window per object, its class
// registered on first use, messages routed to a virtual handler, a private modal loop and
// centring inside the work area. All windows live on the main thread.
#pragma once

#include <windows.h>

class CBaseWindow {
public:
  CBaseWindow();
  // Does not destroy a live window (end it first, normally through RunModal), but detaches it
  // so that it no longer calls into this object.
  virtual ~CBaseWindow();
  CBaseWindow(const CBaseWindow&) = delete;
  CBaseWindow& operator=(const CBaseWindow&) = delete;

  virtual const char* ClassName() const;  // "http://www.<product domain>"
  virtual UINT ClassStyle() const;
  virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  virtual void OnDestroyed(HWND handle);  // the window's last call on the object

  HWND Create(const char* name, HWND parent, DWORD style, DWORD exStyle, int x, int y, int width, int height,
              HMENU menu);
  HWND Create(const char* name, HWND parent, DWORD style, DWORD exStyle, const RECT& rect, HMENU menu);
  bool CreatePopup(HWND parent, DWORD style);
  bool EnsureClassRegistered();

  // Shows the window (creating a WS_POPUP one when there is none) with the parent disabled, and
  // runs messages until a WM_CLOSE, WM_DESTROY or SC_CLOSE for it arrives; then hides and destroys
  // it. Returns the closing WM_CLOSE's wParam, else 0. A WM_QUIT ends the loop and is posted
  // again (exit code 1) for the enclosing loop.
  int RunModal(HWND parent, bool center);

  BOOL Show();
  BOOL Hide();
  BOOL Destroy();
  BOOL IsAlive() const;
  HWND GetHandle() const { return m_handle; }
  BOOL GetRect(RECT& out) const;
  void Center(HWND reference);
  BOOL CenterSized(HWND reference, int width, int height);

  // Message boxes owned by this window, shown on the main thread whichever thread asks.
  int ShowMessage(const char* text, const char* caption, UINT type);
  int ShowMessageFormat(const char* caption, UINT type, const char* format, ...)
      __attribute__((format(gnu_printf, 4, 5)));

protected:
  static LRESULT CALLBACK BaseWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_handle;
  WNDPROC m_defaultProc;

private:
  struct LoopEnd {
    int result;
    bool quit;  // GetMessage saw WM_QUIT
  };
  LoopEnd RunMessageLoop();
  bool EndsModalLoop(const MSG& message) const;
};
