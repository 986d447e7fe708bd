// The loading flow in this process, with the real splash bar: what the bar says, in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/LoadFlow.h"
#include "app/ModuleLoader.h"
#include "base/Path.h"
#include "base/TextFormat.h"
#include "base/WinEvent.h"
#include "data/DataPaths.h"
#include "ui/SplashWindow.h"

namespace {

// Long enough for each text to be painted, far shorter than the product's second.
constexpr DWORD kTestSecondMs = 100;

// Every text the bar paints, recorded from its window procedure on the main thread. The flow
// starts once the bar has painted itself: before that, a repaint request finds nothing to paint.
CSplashWindow* g_splash = nullptr;
WNDPROC g_splashProc = nullptr;
std::vector<std::string> g_painted;
const CWinEvent* g_shown = nullptr;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  bool painting = message == WM_PAINT && IsWindowVisible(window);
  if (painting && (g_painted.empty() || g_painted.back() != g_splash->StatusText())) {
    g_painted.push_back(g_splash->StatusText());
  }
  LRESULT result = CallWindowProcA(g_splashProc, window, message, wParam, lParam);
  if (painting) g_shown->Set();
  return result;
}

}  // namespace

TEST(LoadFlow, ConfigurationRetriesCountDownOnTheBarAndTheBarClosesWithOne) {
  CScratchDir data;
  SetDataRoot(data.Path().c_str());
  std::string proxy = ExecutablePath() + ".Proxy";
  ASSERT_TRUE(WriteFileBytes(proxy, "127.0.0.1\r\n1"));  // every connection refused at once

  CModuleLoader loader;
  CWinEvent shown;
  g_shown = &shown;
  bool downloaded = true;
  CSplashWindow splash([&](CSplashWindow& window) {
    shown.Wait(INFINITE);
    CByteBuffer config;
    downloaded = CLoadFlow(window, loader, false, kTestSecondMs).DownloadConfigWithRetry(config);
  });
  ASSERT_TRUE(splash.CreateCentred());
  g_splash = &splash;
  g_splashProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(splash.GetHandle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProc)));
  EXPECT_EQ(1, splash.RunModal(nullptr, true));  // the worker's WM_CLOSE carries 1
  EXPECT_FALSE(downloaded);

  const std::vector<std::string> expected = {
      "请稍后，正在加载配置...", "网络异常，3 秒后重试！", "正在尝试第1次重试...",    "请稍后，正在加载配置...",
      "网络异常，5 秒后重试！",  "正在尝试第2次重试...",   "请稍后，正在加载配置...", "网络异常，8 秒后重试！",
      "正在尝试第3次重试...",    "请稍后，正在加载配置..."};
  // What the bar showed before the flow began (its start-up text) is not the flow's.
  auto first = std::find(g_painted.begin(), g_painted.end(), expected.front());
  EXPECT_EQ(expected, std::vector<std::string>(first, g_painted.end()));
  DeleteFileA(proxy.c_str());
  SetDataRoot("");
}

TEST(LoadFlow, TheBuildStampGivesWholeDaysOrNothing) {
  // 2040 is past what a 32-bit time can hold: the override's age must still read.
  const struct {
    const char* now;
    const char* buildTime;
    const char* buildDate;
    bool reads;
    long long days;
  } cases[] = {
      {"12:00:00 Dec 18 2026", "12:00:01", "Dec  8 2026", true, 9},  // a second short of ten days
      {"12:00:00 Dec 18 2026", "12:00:00", "Dec  8 2026", true, 10},
      {"12:00:00 Dec 18 2026", "noon", "someday", false, 0},
      {"12:00:00 Mar 10 2040", "12:00:00", "Mar  1 2040", true, 9},
      {"12:00:00 Mar 10 2040", "12:00:00", "Feb 28 2040", true, 11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.buildDate) + " to " + c.now);
    long long now = 0, days = -1;
    ASSERT_TRUE(ParseVariantDate(c.now, &now));
    EXPECT_EQ(c.reads, DaysSinceBuild(c.buildTime, c.buildDate, now, &days));
    if (c.reads) {
      EXPECT_EQ(c.days, days);
    }
  }
}
