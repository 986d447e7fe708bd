#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BuildConfig.h"
#include "TestSupport.h"
#include "app/ModuleLoader.h"
#include "base/Path.h"
#include "data/DataPaths.h"
#include "data/DbContainer.h"

namespace {

std::string BuiltLibrary(const char* name) { return ExeDirectory() + "\\" + name; }
const std::string kSampleLoader = "loader\\loader.dll";
const std::string kFaultyLoader = "testlibs\\faulty_loader.dll";

std::string SystemText(DWORD code) {
  char* buffer = nullptr;
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text(buffer ? buffer : "", length);
  LocalFree(buffer);
  return text;
}

// Read as UTF-16: Wine's GetEnvironmentVariableA cuts a double-byte value to its UTF-16 length.
std::string Environment(const wchar_t* name) {
  wchar_t wide[MAX_PATH] = {};
  char value[MAX_PATH * 2] = {};
  GetEnvironmentVariableW(name, wide, MAX_PATH);
  WideCharToMultiByte(CP_ACP, 0, wide, -1, value, sizeof(value), nullptr, nullptr);
  return value;
}

struct TraceLine {
  std::string event;
  unsigned long thread = 0;
  unsigned long mainThread = 0;
  std::string data;
};

std::vector<TraceLine> ReadTrace(const std::string& path) {
  std::vector<TraceLine> lines;
  std::string text = ReadFileBytes(path);
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = text.substr(start, end - start);
    char event[64] = {};
    TraceLine parsed;
    size_t data = line.find(" data=");
    if (sscanf(line.c_str(), "%63s thread=%lu main_thread=%lu", event, &parsed.thread, &parsed.mainThread) != 3 ||
        data == std::string::npos) {
      ADD_FAILURE() << "unreadable trace line: " << line;
      continue;
    }
    parsed.event = event;
    parsed.data = line.substr(data + 6);
    lines.push_back(parsed);
  }
  return lines;
}

// A data root of its own, with a loader configuration naming one library in the loader folder.
class ModuleLoaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    SetDataRoot(m_root.Path().c_str());
    ASSERT_TRUE(CPath(LoaderDirectory().c_str()).MakeDirectory());
    for (const char* name : {"VELMOR_TEST_FAULT", "VELMOR_TEST_FAULT_DATA", "VELMOR_TEST_FAULT_STARTED"}) {
      SetEnvironmentVariableA(name, nullptr);
    }
  }
  // The launcher never unloads a library; the test does, so its files can be deleted.
  void TearDown() override {
    SetDataRoot("");
    for (const std::string& path : m_installed) {
      for (int i = 0; i < 16 && FreeLibrary(GetModuleHandleA(path.c_str())); ++i) {
      }
      EXPECT_TRUE(DeleteFileA(path.c_str())) << path;
    }
  }

  std::string LoaderDirectory() const { return m_root.File("cache\\loader"); }

  static void Configure(CModuleLoader& loader, const std::string& fileName) {
    LoaderFile record;
    record.file_name = fileName;
    record.compress_file_name = fileName + ".zip";
    CLoaderConfig config;
    config.Add(record);
    CDbContainer container;
    ASSERT_TRUE(container.WriteTextEntry(CLoaderConfig::kDataEntry, SerializeLoaderFiles(config).c_str()));
    CByteBuffer image;
    container.BuildImage(CModuleLoader::kConfigPassword, image);
    ASSERT_TRUE(loader.ParseConfig(image));
  }

  // Installs a built library under `name` (unique per test: a loaded library stays loaded) and
  // loads it with the fault named.
  void Install(const std::string& built, const std::string& path) {
    EXPECT_TRUE(CopyFileA(BuiltLibrary(built.c_str()).c_str(), path.c_str(), FALSE));
    m_installed.push_back(path);
  }

  bool Load(CModuleLoader& loader, const std::string& built, const std::string& name, const char* fault = "") {
    Install(built, LoaderDirectory() + "\\" + name);
    SetEnvironmentVariableA("VELMOR_TEST_FAULT", fault);
    Configure(loader, name);
    return loader.LoadModule(Bytes("the library's bytes"));
  }

  CScratchDir m_root;
  std::vector<std::string> m_installed;
};

}  // namespace

TEST_F(ModuleLoaderTest, EachFaultOfTheLibraryHasItsOwnText) {
  struct Case {
    const char* fault;
    const char* text;
  };
  const Case cases[] = {{"start_fails", "获取启动模块失败！"},
                        {"start_null", "获取启动模块为空！"},
                        {"start_high_byte", "获取启动模块失败！"},
                        {"data_fails", "获取数据配置接口失败！"},
                        {"data_null", "获取数据配置接口为空！"}};
  for (const Case& c : cases) {
    CModuleLoader loader;
    ASSERT_TRUE(Load(loader, kFaultyLoader, std::string("before_") + c.fault + ".dll"));  // to be cleared
    EXPECT_FALSE(Load(loader, kFaultyLoader, std::string(c.fault) + ".dll", c.fault));
    EXPECT_EQ(c.text, loader.GetLastErrorText()) << c.fault;
    EXPECT_FALSE(loader.HasStartEntry());
    EXPECT_FALSE(loader.CallDataConfig(m_root.Path().c_str()));
    EXPECT_FALSE(loader.CallStart());
    EXPECT_TRUE(Environment(L"VELMOR_TEST_FAULT_DATA").empty());
  }
  CModuleLoader loader;
  EXPECT_FALSE(Load(loader, "testlibs\\no_export_loader.dll", "no_export.dll"));
  // The users' code page, byte for byte: "获取模块接口为空！" in GBK.
  EXPECT_EQ("\xbb\xf1\xc8\xa1\xc4\xa3\xbf\xe9\xbd\xd3\xbf\xda\xce\xaa\xbf\xd5\xa3\xa1", loader.GetLastErrorText());
}

TEST_F(ModuleLoaderTest, ALibraryThatCannotBeLoadedGivesTheSystemsMessage) {
  CModuleLoader loader;
  EXPECT_FALSE(Load(loader, "testlibs\\missing_dependency_loader.dll", "missing_dependency.dll"));
  m_installed.pop_back();  // Wine keeps a library whose import failed locked until the process ends
  EXPECT_FALSE(SystemText(ERROR_MOD_NOT_FOUND).empty());
  EXPECT_EQ(SystemText(ERROR_MOD_NOT_FOUND), loader.GetLastErrorText());

  ASSERT_TRUE(WriteFileBytes(LoaderDirectory() + "\\garbage.dll", "no library at all"));
  Configure(loader, "garbage.dll");
  EXPECT_FALSE(loader.LoadModule(Bytes("x")));
  EXPECT_EQ(SystemText(ERROR_BAD_EXE_FORMAT), loader.GetLastErrorText());
  EXPECT_FALSE(loader.HasStartEntry());
}

TEST_F(ModuleLoaderTest, WithoutADataRootNoLibraryIsSearchedFor) {
  CModuleLoader loader;
  Configure(loader, "no_root.dll");
  SetDataRoot("");
  EXPECT_FALSE(loader.LoadModule(Bytes("x")));
  EXPECT_EQ(SystemText(ERROR_PATH_NOT_FOUND), loader.GetLastErrorText());
}

TEST_F(ModuleLoaderTest, WithoutARecordNothingChanges) {
  CModuleLoader loader;
  EXPECT_FALSE(loader.LoadModule(Bytes("x")));
  EXPECT_EQ("", loader.GetLastErrorText());
  EXPECT_FALSE(loader.HasStartEntry());
  EXPECT_FALSE(loader.CallStart());
  EXPECT_FALSE(loader.HandOver(m_root.Path().c_str()));
}

TEST_F(ModuleLoaderTest, ADataEntryAnsweringFalseStopsTheHandOver) {
  CModuleLoader loader;
  ASSERT_TRUE(Load(loader, kFaultyLoader, "data_false.dll", "data_false"));
  EXPECT_EQ("the library's bytes", Text(loader.LoaderBytes()));
  EXPECT_FALSE(loader.HandOver("D:\\数据"));
  EXPECT_EQ("D:\\数据", Environment(L"VELMOR_TEST_FAULT_DATA"));
  EXPECT_EQ("", Environment(L"VELMOR_TEST_FAULT_STARTED"));
}

TEST_F(ModuleLoaderTest, ALibraryBesideTheExecutableComesFirst) {
  const std::string name = "velmor_precedence_test.dll";
  Install(kFaultyLoader, BuiltLibrary(name.c_str()));
  CModuleLoader loader;
  // The sample in the loader folder would agree; the faulty one beside us refuses.
  bool loaded = Load(loader, kSampleLoader, name, "data_false");
  EXPECT_TRUE(loaded);
  EXPECT_FALSE(loader.CallDataConfig(m_root.Path().c_str()));
  EXPECT_EQ(m_root.Path(), Environment(L"VELMOR_TEST_FAULT_DATA"));
}

TEST_F(ModuleLoaderTest, TheSampleLibraryRunsItsWorkbenchOnTheCallingThread) {
  std::string trace = m_root.File("trace.txt");
  SetEnvironmentVariableA("VELMOR_LOADER_TRACE", trace.c_str());
  SetEnvironmentVariableA("VELMOR_LOADER_AUTOCLOSE_MS", "1500");
  std::atomic<bool> restored{false};
  std::string title;
  // Minimises the workbench, then asks it to show itself the way a second launcher does.
  std::thread secondStart([&] {
    HWND window = nullptr;
    for (int i = 0; i < 500 && !window; ++i, Sleep(20)) window = FindWindowA(BuildConfig::kMainWindowClass, nullptr);
    if (!window) return;
    char text[256] = {};
    GetWindowTextA(window, text, sizeof(text));
    title = text;
    ShowWindow(window, SW_MINIMIZE);
    PostMessageA(window, RegisterWindowMessageA("get_show_window_msg"), 0, 0);
    for (int i = 0; i < 100 && !restored; ++i, Sleep(20)) restored = IsWindowVisible(window) && !IsIconic(window);
  });
  CModuleLoader loader;
  ASSERT_TRUE(Load(loader, kSampleLoader, "loader.dll"));
  EXPECT_TRUE(loader.HandOver(m_root.Path().c_str()));  // returns when the window closes by itself
  secondStart.join();
  SetEnvironmentVariableA("VELMOR_LOADER_TRACE", nullptr);
  SetEnvironmentVariableA("VELMOR_LOADER_AUTOCLOSE_MS", nullptr);

  EXPECT_EQ("沐岚星 工作台", title);
  EXPECT_TRUE(restored);
  std::vector<TraceLine> lines = ReadTrace(trace);
  std::vector<std::string> events;
  for (const TraceLine& line : lines) events.push_back(line.event);
  EXPECT_EQ((std::vector<std::string>{"query_start", "query_data_config", "data_config", "start", "window",
                                      "show_request", "closed"}),
            events);
  for (const TraceLine& line : lines) {
    EXPECT_EQ(GetCurrentThreadId(), line.thread) << line.event;
    EXPECT_EQ(line.mainThread, line.thread) << line.event;
  }
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(m_root.Path(), lines[2].data);
}
