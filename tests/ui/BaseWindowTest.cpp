#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

#include "UiTestSupport.h"
#include "ui/BaseWindow.h"
#include "ui/WindowMessages.h"

namespace {

constexpr UINT kRunCheck = WM_APP + 1;  // handled inside the modal loop
constexpr UINT kCloseThroughHandler = WM_APP + 2;

// A popup that counts what its handler sees and runs a check while its modal loop runs.
class CTestWindow : public CBaseWindow {
public:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_CLOSE) ++closesSeen;
    if (message == kRunCheck) {
      parentEnabledInLoop = parent && IsWindowEnabled(parent);
      return 0;
    }
    if (message == kCloseThroughHandler) return CBaseWindow::OnMessage(WM_CLOSE, 0, 0);
    return CBaseWindow::OnMessage(message, wParam, lParam);
  }
  void OnDestroyed(HWND handle) override { destroyedHandle = handle; }

  HWND parent = nullptr;
  int closesSeen = 0;
  bool parentEnabledInLoop = true;
  HWND destroyedHandle = nullptr;
};

RECT RectOf(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return rect;
}

HWND CreateSized(CBaseWindow& window, int width, int height) {
  return window.Create("", nullptr, WS_POPUP, WS_EX_NOACTIVATE, 0, 0, width, height, nullptr);
}

}  // namespace

TEST(BaseWindow, WmCloseForTheLiveWindowEndsTheModalLoopWithItsWParamUnseenByTheHandler) {
  CTestWindow window;
  CTestWindow parent;
  ASSERT_TRUE(CreateSized(parent, 50, 50));
  parent.Show();
  ASSERT_TRUE(window.CreatePopup(nullptr, WS_POPUP));
  window.parent = parent.GetHandle();
  PostMessageA(window.GetHandle(), kRunCheck, 0, 0);
  PostMessageA(window.GetHandle(), WM_CLOSE, 1, 0);
  HWND handle = window.GetHandle();

  EXPECT_EQ(1, window.RunModal(parent.GetHandle(), true));
  EXPECT_EQ(0, window.closesSeen);
  EXPECT_FALSE(window.parentEnabledInLoop);
  EXPECT_TRUE(IsWindowEnabled(parent.GetHandle()));
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_EQ(handle, window.destroyedHandle);
  EXPECT_EQ(nullptr, window.GetHandle());
  parent.Destroy();
}

TEST(BaseWindow, WmCloseThroughTheHandlerDestroysTheWindowAndTheThreadMessageEndsTheLoopWithZero) {
  CTestWindow window;
  ASSERT_TRUE(window.CreatePopup(nullptr, WS_POPUP));
  HWND handle = window.GetHandle();
  PostMessageA(handle, kCloseThroughHandler, 0, 0);
  EXPECT_EQ(0, window.RunModal(nullptr, false));
  EXPECT_FALSE(IsWindow(handle));
}

TEST(BaseWindow, WmQuitEndsTheModalLoopAndIsPostedAgainWithExitCodeOne) {
  CTestWindow window;
  PostQuitMessage(5);
  EXPECT_EQ(0, window.RunModal(nullptr, false));  // creates its own popup first
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(1u, message.wParam);
}

TEST(BaseWindow, SystemCloseCommandEndsTheModalLoopWithZero) {
  CTestWindow window;
  ASSERT_TRUE(window.CreatePopup(nullptr, WS_POPUP));
  PostMessageA(window.GetHandle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  PostMessageA(window.GetHandle(), WM_CLOSE, 7, 0);  // never reached
  EXPECT_EQ(0, window.RunModal(nullptr, false));
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

TEST(BaseWindow, CentresOverAVisibleReferenceAndInTheWorkAreaForAnInvisibleOne) {
  RECT work = WorkArea();
  CBaseWindow reference, window;
  ASSERT_TRUE(
      reference.Create("", nullptr, WS_POPUP, WS_EX_NOACTIVATE, work.left + 40, work.top + 30, 200, 100, nullptr));
  ASSERT_TRUE(CreateSized(window, 100, 40));
  reference.Show();
  window.Center(reference.GetHandle());
  EXPECT_EQ(work.left + 40 + 50, RectOf(window.GetHandle()).left);
  EXPECT_EQ(work.top + 30 + 30, RectOf(window.GetHandle()).top);

  reference.Hide();
  window.Center(reference.GetHandle());
  RECT rect = RectOf(window.GetHandle());
  EXPECT_EQ(work.left + (work.right - work.left - 100) / 2, rect.left);
  EXPECT_EQ(work.top + (work.bottom - work.top - 40) / 2, rect.top);
  reference.Destroy();
  window.Destroy();
}

TEST(BaseWindow, CentringKeepsTheWindowInsideTheWorkAreaRightAndBottomWinning) {
  RECT work = WorkArea();
  CBaseWindow reference, window;
  ASSERT_TRUE(reference.Create("", nullptr, WS_POPUP, WS_EX_NOACTIVATE, work.left, work.top, 20, 20, nullptr));
  reference.Show();
  ASSERT_TRUE(CreateSized(window, 100, 60));
  window.Center(reference.GetHandle());  // centred over a corner window would stick out
  EXPECT_EQ(work.left, RectOf(window.GetHandle()).left);
  EXPECT_EQ(work.top, RectOf(window.GetHandle()).top);

  int width = work.right - work.left + 100, height = work.bottom - work.top + 80;
  EXPECT_TRUE(window.CenterSized(nullptr, width, height));
  RECT rect = RectOf(window.GetHandle());
  EXPECT_EQ(work.right, rect.right);
  EXPECT_EQ(work.bottom, rect.bottom);
  EXPECT_EQ(width, rect.right - rect.left);
  reference.Destroy();
  window.Destroy();
}

TEST(BaseWindow, TwoObjectsOfOneClassBothCreateTheirWindows) {
  CBaseWindow first, second;
  EXPECT_TRUE(first.CreatePopup(nullptr, WS_POPUP));
  EXPECT_TRUE(second.CreatePopup(nullptr, WS_POPUP));
  char name[256] = {};
  GetClassNameA(first.GetHandle(), name, sizeof(name));
  EXPECT_EQ("http://www.velmor.example", std::string(name));
  first.Destroy();
  second.Destroy();
}

TEST(BaseWindow, AWindowOutlivingItsObjectNoLongerCallsIntoIt) {
  alignas(CTestWindow) unsigned char storage[sizeof(CTestWindow)];
  CTestWindow* window = new (storage) CTestWindow;
  ASSERT_TRUE(window->CreatePopup(nullptr, WS_POPUP));
  HWND handle = window->GetHandle();
  window->~CTestWindow();
  memset(storage, 0, sizeof(storage));   // a call into the dead object would now fault
  SendMessageA(handle, WM_CLOSE, 0, 0);  // default handling: the window is destroyed
  EXPECT_FALSE(IsWindow(handle));
}

TEST(BaseWindow, RegisteredMessagesAreTheSystemWideNumbersOfTheirNames) {
  EXPECT_EQ(RegisterWindowMessageA("WM_MessageBox"), MessageBoxRequestMessage());
  EXPECT_GE(MessageBoxRequestMessage(), 0xC000u);
  EXPECT_EQ(RegisterWindowMessageA("get_show_window_msg"), ShowWindowRequestMessage());
}
