#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "UiTestSupport.h"
#include "base/MainThread.h"
#include "ui/MessageBox.h"
#include "ui/SplashWindow.h"
#include "ui/WindowMessages.h"

TEST(MessageBoxes, AWorkerBoxIsOwnedByTheSplashCentredOverItAndItsAnswerReachesTheWorker) {
  RecordMainThread();
  CBoxAnswerer answerer("网络异常", IDRETRY);
  int answer = 0;
  CSplashWindow splash([&answer](CSplashWindow& bar) {
    answer = bar.ShowMessage("连接配置服务器失败！", "网络异常", MB_RETRYCANCEL | MB_ICONERROR);
  });
  ASSERT_TRUE(splash.CreateCentred());
  // Away from the work area's centre, where Wine itself puts boxes.
  RECT work = WorkArea(), bar = {};
  SetWindowPos(splash.GetHandle(), nullptr, work.left + 310, work.top + 170, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  HWND owner = splash.GetHandle();
  splash.GetRect(bar);
  EXPECT_EQ(1, splash.RunModal(nullptr, false));
  const BoxSeen& box = answerer.Wait();
  ASSERT_TRUE(box.found);
  EXPECT_EQ(IDRETRY, answer);
  EXPECT_EQ(owner, box.owner);
  EXPECT_EQ("连接配置服务器失败！", box.text);
  LONG width = box.rect.right - box.rect.left, height = box.rect.bottom - box.rect.top;
  EXPECT_EQ(std::clamp<LONG>(bar.left + (300 - width) / 2, work.left, work.right - width), box.rect.left);
  EXPECT_EQ(std::clamp<LONG>(bar.top + (30 - height) / 2, work.top, work.bottom - height), box.rect.top);
}

TEST(MessageBoxes, AMainThreadBoxForADisabledOwnerIsOwnedByTheActiveWindow) {
  RecordMainThread();
  CBaseWindow disabled, active;
  ASSERT_TRUE(disabled.CreatePopup(nullptr, WS_POPUP | WS_VISIBLE | WS_DISABLED));
  ASSERT_TRUE(active.Create("", nullptr, WS_POPUP | WS_VISIBLE, 0, 100, 100, 200, 80, nullptr));
  SetActiveWindow(active.GetHandle());
  CBoxAnswerer answerer("提示", IDOK);
  EXPECT_EQ(IDOK, disabled.ShowMessageFormat("提示", MB_OK, "第 %d 次：%s", 2, "完成"));
  EXPECT_EQ(active.GetHandle(), answerer.Wait().owner);
  EXPECT_EQ("第 2 次：完成", answerer.Wait().text);
}

// "WM_MessageBox" is registered, so any program on the desktop can send it: only the request a
// worker of this process has pending may be read.
TEST(ProperWindowsProgram, ABoxRequestThatIsNotPendingIsIgnored) {
  RecordMainThread();
  MessageBoxRequest notPending = {"伪造的请求", "伪造", MB_OK};
  const WPARAM strangers[] = {0x10, reinterpret_cast<WPARAM>(&notPending), ~static_cast<WPARAM>(0)};
  std::vector<LRESULT> answers;
  std::vector<bool> handled;
  CSplashWindow splash([&](CSplashWindow& bar) {
    for (WPARAM stranger : strangers) {
      DWORD_PTR answer = IDOK;
      handled.push_back(SendMessageTimeoutA(bar.GetHandle(), MessageBoxRequestMessage(), stranger, 0, SMTO_BLOCK, 5000,
                                            &answer) != 0);
      answers.push_back(static_cast<LRESULT>(answer));
    }
  });
  ASSERT_TRUE(splash.CreateCentred());
  EXPECT_EQ(1, splash.RunModal(nullptr, true));
  EXPECT_EQ(std::vector<bool>(3, true), handled);  // answered at once, not left waiting on a box
  EXPECT_EQ(std::vector<LRESULT>(3, 0), answers);
  EXPECT_EQ(nullptr, FindWindowA("#32770", "伪造"));
}
