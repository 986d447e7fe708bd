#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "UiTestSupport.h"
#include "base/MainThread.h"
#include "ui/BaseWindow.h"
#include "ui/MessageBox.h"
#include "ui/SplashWindow.h"

namespace {

const char kNetworkCaption[] = "网络异常";

// Where a box of that size belongs: centred over `owner`, inside the work area.
POINT ExpectedBoxPosition(const RECT& owner, const RECT& box) {
  RECT work = WorkArea();
  int width = box.right - box.left, height = box.bottom - box.top;
  POINT at = {owner.left + (owner.right - owner.left - width) / 2, owner.top + (owner.bottom - owner.top - height) / 2};
  at.x = std::max<LONG>(work.left, std::min<LONG>(at.x, work.right - width));
  at.y = std::max<LONG>(work.top, std::min<LONG>(at.y, work.bottom - height));
  return at;
}

}  // namespace

TEST(MessageBoxes, AWorkerBoxIsOwnedByTheSplashCentredOverItAndItsAnswerReachesTheWorker) {
  RecordMainThread();
  CBoxAnswerer answerer(kNetworkCaption, IDRETRY);
  int answer = 0;
  CSplashWindow splash([&answer](CSplashWindow& bar) {
    answer = bar.ShowMessage("连接配置服务器失败！", kNetworkCaption, MB_RETRYCANCEL | MB_ICONERROR);
  });
  ASSERT_TRUE(splash.CreateCentred());
  // Off the work area's centre, so that centring over the bar is told apart from centring on the screen.
  RECT work = WorkArea();
  SetWindowPos(splash.GetHandle(), nullptr, work.left + 310, work.top + 170, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  HWND bar = splash.GetHandle();
  RECT barRect = {};
  GetWindowRect(bar, &barRect);

  EXPECT_EQ(1, splash.RunModal(nullptr, false));
  ASSERT_TRUE(answerer.Wait());
  EXPECT_EQ(IDRETRY, answer);
  EXPECT_EQ(bar, answerer.owner);
  EXPECT_EQ("连接配置服务器失败！", answerer.text);
  POINT expected = ExpectedBoxPosition(barRect, answerer.rect);
  EXPECT_EQ(expected.x, answerer.rect.left);
  EXPECT_EQ(expected.y, answerer.rect.top);
}

TEST(MessageBoxes, AMainThreadBoxForADisabledOwnerIsOwnedByTheActiveWindow) {
  RecordMainThread();
  CBaseWindow disabled, active;
  ASSERT_TRUE(disabled.CreatePopup(nullptr, WS_POPUP | WS_VISIBLE | WS_DISABLED));
  ASSERT_TRUE(active.Create("", nullptr, WS_POPUP | WS_VISIBLE, 0, 100, 100, 200, 80, nullptr));
  SetActiveWindow(active.GetHandle());
  ASSERT_EQ(active.GetHandle(), GetActiveWindow());

  CBoxAnswerer answerer("提示", IDOK);
  EXPECT_EQ(IDOK, disabled.ShowMessageFormat("提示", MB_OK, "第 %d 次：%s", 2, "完成"));
  ASSERT_TRUE(answerer.Wait());
  EXPECT_EQ(active.GetHandle(), answerer.owner);
  EXPECT_EQ("第 2 次：完成", answerer.text);
  disabled.Destroy();
  active.Destroy();
}

TEST(MessageBoxes, AWorkerRequestForAWindowThatIsGoneGivesZeroWithoutABox) {
  RecordMainThread();
  CBaseWindow window;
  ASSERT_TRUE(window.CreatePopup(nullptr, WS_POPUP));
  HWND gone = window.GetHandle();
  window.Destroy();
  int result = -2;
  std::thread worker([&] { result = ShowMessageBox(gone, "text", "caption", MB_OK); });
  worker.join();
  EXPECT_EQ(0, result);
}
