#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "TestSupport.h"
#include "app/ModuleLoader.h"
#include "base/FileUtil.h"
#include "base/Path.h"
#include "data/DataPaths.h"
#include "data/DbContainer.h"

namespace {

const char kSampleLoader[] = "loader\\loader.dll";
const char kFaultyLoader[] = "testlibs\\faulty_loader.dll";

std::string SystemText(DWORD code) {
  char* buffer = nullptr;
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text(buffer ? buffer : "", length);
  LocalFree(buffer);
  return text;
}

std::string Environment(const char* name) {
  char value[MAX_PATH] = {};
  GetEnvironmentVariableA(name, value, sizeof(value));
  return value;
}

// A data root of its own; each library is installed in its loader folder under a name of its own,
// since a loaded library stays loaded.
class ModuleLoaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetDataRoot(m_root.Path().c_str());
    ASSERT_TRUE(CPath(Installed("").c_str()).MakeDirectory());
    SetEnvironmentVariableA("VELMOR_TEST_FAULT_DATA", nullptr);
    SetEnvironmentVariableA("VELMOR_TEST_FAULT_STARTED", nullptr);
  }
  // The launcher never unloads a library; the test does, so the files can be deleted.
  void TearDown() override {
    SetDataRoot("");
    for (const std::string& path : m_installed) {
      for (int i = 0; i < 16 && FreeLibrary(GetModuleHandleA(path.c_str())); ++i) {
      }
      EXPECT_TRUE(DeleteFileA(path.c_str())) << path;
    }
  }

  std::string Installed(const std::string& name) const { return m_root.File("cache\\loader\\" + name); }

  void Install(const char* built, const std::string& path) {
    EXPECT_TRUE(CopyFileA((ExeDirectory() + "\\" + built).c_str(), path.c_str(), FALSE));
    m_installed.push_back(path);
  }

  static void Configure(CModuleLoader& loader, const std::string& fileName) {
    LoaderFile record;
    record.file_name = record.compress_file_name = fileName;
    CLoaderConfig config;
    config.Add(record);
    CDbContainer container;
    ASSERT_TRUE(container.WriteTextEntry(CLoaderConfig::kDataEntry, SerializeLoaderFiles(config).c_str()));
    CByteBuffer image;
    container.BuildImage(CModuleLoader::kConfigPassword, image);
    ASSERT_TRUE(loader.ParseConfig(image));
  }

  bool Load(CModuleLoader& loader, const char* built, const std::string& name, const char* fault = "") {
    Install(built, Installed(name));
    SetEnvironmentVariableA("VELMOR_TEST_FAULT", fault);
    Configure(loader, name);
    return loader.LoadModule(Bytes("the library's bytes"));
  }

  CScratchDir m_root;
  std::vector<std::string> m_installed;
};

}  // namespace

TEST_F(ModuleLoaderTest, EachFaultOfTheLibraryHasItsOwnText) {
  const char* const cases[][2] = {{"start_fails", "获取启动模块失败！"},
                                  {"start_null", "获取启动模块为空！"},
                                  {"start_high_byte", "获取启动模块失败！"},  // only the low byte counts
                                  {"data_fails", "获取数据配置接口失败！"},
                                  {"data_null", "获取数据配置接口为空！"}};
  for (const auto& c : cases) {
    CModuleLoader loader;
    ASSERT_TRUE(Load(loader, kFaultyLoader, std::string("before_") + c[0] + ".dll"));
    EXPECT_FALSE(Load(loader, kFaultyLoader, std::string(c[0]) + ".dll", c[0]));
    EXPECT_EQ(c[1], loader.GetLastErrorText()) << c[0];
    EXPECT_FALSE(loader.HasStartEntry());  // the earlier success is forgotten
    EXPECT_FALSE(loader.HandOver(m_root.Path().c_str()));
    EXPECT_EQ("", Environment("VELMOR_TEST_FAULT_DATA"));
  }
  CModuleLoader loader;
  EXPECT_FALSE(Load(loader, "testlibs\\no_export_loader.dll", "no_export.dll"));
  // "获取模块接口为空！" in the users' code page, byte for byte.
  EXPECT_EQ("\xbb\xf1\xc8\xa1\xc4\xa3\xbf\xe9\xbd\xd3\xbf\xda\xce\xaa\xbf\xd5\xa3\xa1", loader.GetLastErrorText());
}

TEST_F(ModuleLoaderTest, ALibraryThatCannotBeLoadedGivesTheSystemsMessage) {
  // Wine keeps a library whose import failed locked until the process ends, so it goes into a
  // fixed folder that the next run clears rather than into a new scratch folder every time.
  char temp[MAX_PATH];
  ASSERT_TRUE(GetTempPathA(sizeof(temp), temp));
  std::string lockedRoot = std::string(temp) + "velmor_locked_library_test";
  DeleteTreeBestEffort(lockedRoot.c_str());
  ASSERT_TRUE(CPath((lockedRoot + "\\cache\\loader").c_str()).MakeDirectory());
  ASSERT_TRUE(CopyFileA((ExeDirectory() + "\\testlibs\\missing_dependency_loader.dll").c_str(),
                        (lockedRoot + "\\cache\\loader\\missing_dependency.dll").c_str(), FALSE));
  SetDataRoot(lockedRoot.c_str());
  CModuleLoader loader;
  Configure(loader, "missing_dependency.dll");
  EXPECT_FALSE(loader.LoadModule(Bytes("x")));
  SetDataRoot(m_root.Path().c_str());
  EXPECT_NE("", SystemText(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(SystemText(ERROR_MOD_NOT_FOUND), loader.GetLastErrorText());

  ASSERT_TRUE(WriteFileBytes(Installed("garbage.dll"), "no library at all"));
  Configure(loader, "garbage.dll");
  EXPECT_FALSE(loader.LoadModule(Bytes("x")));
  EXPECT_EQ(SystemText(ERROR_BAD_EXE_FORMAT), loader.GetLastErrorText());

  // Without a data root there is no path, and LoadLibraryA must not search for a bare name.
  SetDataRoot("");
  EXPECT_FALSE(loader.LoadModule(Bytes("x")));
  EXPECT_EQ(SystemText(ERROR_PATH_NOT_FOUND), loader.GetLastErrorText());
  CModuleLoader unconfigured;
  EXPECT_FALSE(unconfigured.LoadModule(Bytes("x")));
  EXPECT_EQ("", unconfigured.GetLastErrorText());
}

TEST_F(ModuleLoaderTest, ALibraryBesideTheExecutableComesFirstAndItsDataEntryDecides) {
  const std::string name = "velmor_precedence_test.dll";
  Install(kFaultyLoader, ExeDirectory() + "\\" + name);
  CModuleLoader loader;
  // The sample in the loader folder would agree; the faulty one beside us refuses.
  ASSERT_TRUE(Load(loader, kSampleLoader, name, "data_false"));
  EXPECT_EQ("the library's bytes", Text(loader.LoaderBytes()));
  EXPECT_FALSE(loader.HandOver(m_root.Path().c_str()));  // a refusing data entry means no start
  EXPECT_EQ(m_root.Path(), Environment("VELMOR_TEST_FAULT_DATA"));
  EXPECT_EQ("", Environment("VELMOR_TEST_FAULT_STARTED"));
}

TEST_F(ModuleLoaderTest, TheSampleLibraryRunsItsWorkbenchOnTheCallingThread) {
  std::string trace = m_root.File("trace.txt");
  SetEnvironmentVariableA("VELMOR_LOADER_TRACE", trace.c_str());
  SetEnvironmentVariableA("VELMOR_LOADER_AUTOCLOSE_MS", "1500");
  CModuleLoader loader;
  ASSERT_TRUE(Load(loader, kSampleLoader, "loader.dll"));
  std::atomic<bool> restored{false};
  char title[256] = {};
  // Minimises the workbench, then asks it to show itself the way a second launcher does.
  std::thread secondStart([&] {
    HWND window = nullptr;
    for (int i = 0; i < 500 && !window; ++i, Sleep(20)) window = FindWindowA(BuildConfig::kMainWindowClass, nullptr);
    GetWindowTextA(window, title, sizeof(title));
    ShowWindow(window, SW_MINIMIZE);
    PostMessageA(window, RegisterWindowMessageA(LoaderContract::kShowWindowMessageName), 0, 0);
    for (int i = 0; i < 100 && !restored; ++i, Sleep(20)) restored = IsWindowVisible(window) && !IsIconic(window);
  });
  EXPECT_TRUE(loader.HandOver(m_root.Path().c_str()));  // returns once the window has closed itself
  secondStart.join();
  SetEnvironmentVariableA("VELMOR_LOADER_TRACE", nullptr);
  SetEnvironmentVariableA("VELMOR_LOADER_AUTOCLOSE_MS", nullptr);

  EXPECT_STREQ("沐岚星 工作台", title);
  EXPECT_TRUE(restored);
  // Every call on this thread, the process's first, in the contract's order.
  std::string thread = std::to_string(GetCurrentThreadId()), expected;
  for (const char* event :
       {"query_start", "query_data_config", "data_config", "start", "window", "show_request", "closed"}) {
    bool before = std::string(event).rfind("query", 0) == 0;
    expected += std::string(event) + " thread=" + thread + " main_thread=" + thread +
                " data=" + (before ? "" : m_root.Path()) + "\n";
  }
  EXPECT_EQ(expected, ReadFileBytes(trace));
}
