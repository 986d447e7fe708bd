#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "UiTestSupport.h"
#include "ui/BaseWindow.h"

namespace {

constexpr UINT kCheckParent = WM_APP + 1;
constexpr UINT kCloseThroughHandler = WM_APP + 2;

class CTestWindow : public CBaseWindow {
public:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_CLOSE) ++closesSeen;
    if (message == kCheckParent) parentEnabledInLoop = IsWindowEnabled(parent) != FALSE;
    if (message == kCloseThroughHandler) return CBaseWindow::OnMessage(WM_CLOSE, 0, 0);
    return CBaseWindow::OnMessage(message, wParam, lParam);
  }
  void OnDestroyed(HWND handle) override { destroyed = handle; }

  HWND parent = nullptr;
  HWND destroyed = nullptr;
  int closesSeen = 0;
  bool parentEnabledInLoop = true;
};

RECT RectOf(const CBaseWindow& window) {
  RECT rect = {};
  window.GetRect(rect);
  return rect;
}

}  // namespace

TEST(BaseWindow, ACloseForTheLiveWindowEndsTheModalLoopWithItsWParamWithTheParentDisabledMeanwhile) {
  CTestWindow window, parent;
  ASSERT_TRUE(parent.Create("", nullptr, WS_POPUP | WS_VISIBLE, WS_EX_NOACTIVATE, 0, 0, 50, 50, nullptr));
  ASSERT_TRUE(window.CreatePopup(nullptr, WS_POPUP));
  HWND handle = window.parent = parent.GetHandle(), own = window.GetHandle();
  PostMessageA(own, kCheckParent, 0, 0);
  PostMessageA(own, WM_CLOSE, 1, 0);
  EXPECT_EQ(1, window.RunModal(handle, true));
  EXPECT_EQ(0, window.closesSeen);  // the loop took it, the handler never saw it
  EXPECT_FALSE(window.parentEnabledInLoop);
  EXPECT_TRUE(IsWindowEnabled(handle));
  EXPECT_FALSE(IsWindow(own));
  EXPECT_EQ(own, window.destroyed);
  EXPECT_EQ(nullptr, window.GetHandle());
}

TEST(BaseWindow, ACloseThroughTheHandlerQuitAndSystemCloseEndTheLoopWithZero) {
  CTestWindow closed;
  ASSERT_TRUE(closed.CreatePopup(nullptr, WS_POPUP));
  PostMessageA(closed.GetHandle(), kCloseThroughHandler, 0, 0);  // destroys, then a thread WM_CLOSE
  EXPECT_EQ(0, closed.RunModal(nullptr, false));

  CTestWindow system;
  ASSERT_TRUE(system.CreatePopup(nullptr, WS_POPUP));
  PostMessageA(system.GetHandle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  PostMessageA(system.GetHandle(), WM_CLOSE, 7, 0);
  EXPECT_EQ(0, system.RunModal(nullptr, false));

  CTestWindow quit;
  PostQuitMessage(5);
  EXPECT_EQ(0, quit.RunModal(nullptr, false));  // makes its own popup first
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(1u, message.wParam);  // posted again for the enclosing loop
}

TEST(BaseWindow, CentringUsesAVisibleReferenceElseTheWorkAreaAndStaysInsideIt) {
  RECT work = WorkArea();
  CBaseWindow reference, window;
  ASSERT_TRUE(reference.Create("", nullptr, WS_POPUP | WS_VISIBLE, WS_EX_NOACTIVATE, work.left + 40, work.top + 30, 200,
                               100, nullptr));
  ASSERT_TRUE(window.Create("", nullptr, WS_POPUP, WS_EX_NOACTIVATE, 0, 0, 100, 40, nullptr));
  window.Center(reference.GetHandle());
  EXPECT_EQ(work.left + 90, RectOf(window).left);
  EXPECT_EQ(work.top + 60, RectOf(window).top);
  ASSERT_TRUE(reference.CenterSized(nullptr, 20, 20));
  reference.Hide();
  window.Center(reference.GetHandle());
  EXPECT_EQ(work.left + (work.right - work.left - 100) / 2, RectOf(window).left);
  reference.Show();
  SetWindowPos(reference.GetHandle(), nullptr, work.left, work.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  window.Center(reference.GetHandle());  // over a corner window it would stick out
  EXPECT_EQ(work.left, RectOf(window).left);
  EXPECT_EQ(work.top, RectOf(window).top);
  EXPECT_TRUE(window.CenterSized(nullptr, work.right - work.left + 100, work.bottom - work.top + 80));
  EXPECT_EQ(work.right, RectOf(window).right);  // larger than the work area: right and bottom win
  EXPECT_EQ(work.bottom, RectOf(window).bottom);
  reference.Destroy();
  window.Destroy();
}

TEST(BaseWindow, ObjectsShareTheirClassAndAWindowOutlivingItsObjectNoLongerCallsIntoIt) {
  CBaseWindow first;
  ASSERT_TRUE(first.CreatePopup(nullptr, WS_POPUP));
  char name[64] = {};
  GetClassNameA(first.GetHandle(), name, sizeof(name));
  EXPECT_STREQ("http://www.velmor.example", name);
  first.Destroy();

  alignas(CTestWindow) unsigned char storage[sizeof(CTestWindow)];
  CTestWindow* second = new (storage) CTestWindow;
  ASSERT_TRUE(second->CreatePopup(nullptr, WS_POPUP));  // the class is registered already
  HWND handle = second->GetHandle();
  second->~CTestWindow();
  memset(storage, 0, sizeof(storage));   // a call into the dead object would now fault
  SendMessageA(handle, WM_CLOSE, 0, 0);  // default handling destroys the window
  EXPECT_FALSE(IsWindow(handle));
}
