#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "TestSupport.h"
#include "app/Elevation.h"
#include "app/LauncherApp.h"
#include "base/FileUtil.h"
#include "base/Path.h"
#include "base/ScopedHandle.h"
#include "data/DataPaths.h"

namespace {
std::string BesideExe(const char* name) { return ExeDirectory() + "\\" + name; }
}  // namespace

TEST(LauncherApp, StartUpSetsTheDataRootAndReadsTheVersionResource) {
  ASSERT_TRUE(CreateDataDirectory(BesideExe("velmor files").c_str()));
  // The first-run question is settled, so start-up asks nothing.
  ASSERT_TRUE(WriteFileBytes(BesideExe("velmor files\\setup.ini"), ""));
  // Another launcher seems to run: start-up ends at the single-instance rule.
  CKernelHandle running = HoldLauncherInstance();
  {
    CLauncherApp app;
    EXPECT_EQ(&app, GetApp());
    EXPECT_FALSE(app.InitInstance());  // the work is done inside; Run is never entered
    EXPECT_EQ(BesideExe("velmor files"), GetDataRoot());
    EXPECT_STREQ("沐岚星", app.ProductName());
    EXPECT_STREQ("Velmor", app.InternalName());
    EXPECT_STREQ("沐岚星", app.CompanyName());
    EXPECT_EQ(std::to_string(BuildConfig::kVersionMajor) + "." + std::to_string(BuildConfig::kVersionMinor) + "." +
                  std::to_string(BuildConfig::kVersionPatch),
              app.Version());
    EXPECT_EQ(0, app.ExitInstance());
  }
  EXPECT_EQ(nullptr, GetApp());
  SetDataRoot("");
  DeleteTreeBestEffort(BesideExe("velmor files").c_str());
}

TEST(LauncherApp, KnowsItsMainThreadAndSwitches) {
  CLauncherApp app;
  EXPECT_TRUE(CAppBase::IsMainThread());
  bool workerIsMain = true;
  std::thread worker([&workerIsMain] { workerIsMain = CAppBase::IsMainThread(); });
  worker.join();
  EXPECT_FALSE(workerIsMain);
  EXPECT_TRUE(app.HasSwitch(app.CommandLine().At(0)));
  EXPECT_FALSE(app.HasSwitch("/u"));
}

// An elevated process holds the debug privilege and can switch it on. Without elevation there is
// nothing to check (Wine runs every process elevated; Windows with UAC may not).
TEST(Elevation, AnElevatedProcessEnablesTheDebugPrivilege) {
  if (!IsProcessElevated()) GTEST_SKIP() << "skipped: this process is not elevated";
  EXPECT_TRUE(EnableDebugPrivilege());
}

// The worker thread cannot start (no room left for its stack): the user is told, and the start
// ends instead of leaving a bar up for ever.
TEST(NoInvisibleProcess, ALauncherWhoseWorkerCannotStartSaysSoAndEnds) {
  std::vector<DialogSeen> seen;
  std::string child = "\"" + ExecutablePath() +
                      "\" --gtest_also_run_disabled_tests --gtest_filter=LauncherChild.DISABLED_NoRoomForTheWorker";
  EXPECT_EQ(0u, RunProgramAnswering(child, {{"错误", IDOK}}, &seen));
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ("启动程序失败！", seen[0].text);
  EXPECT_TRUE(seen[0].answered);
}

TEST(LauncherChild, DISABLED_NoRoomForTheWorker) {
  ASSERT_TRUE(CreateDataDirectory(BesideExe("velmor files").c_str()));
  ASSERT_TRUE(WriteFileBytes(BesideExe("velmor files\\setup.ini"), ""));
  {
    CLauncherApp app;
    // A message box needs the common controls the manifest names: loaded while there is room.
    LoadLibraryA("comctl32.dll");
    UseUpRoomForThreads();
    // Expectations are not checked here: gtest needs a thread to report a failure.
    app.InitInstance();
    app.ExitInstance();
  }
  SetDataRoot("");
  DeleteTreeBestEffort(BesideExe("velmor files").c_str());
}
