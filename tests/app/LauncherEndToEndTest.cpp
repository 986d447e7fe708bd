// velmor.exe end to end: real launcher processes under Wine, reaching the reference configuration
// server through a ".Proxy" file beside a copy of the executable, with the sample loader library
// (or a faulty one) published. The harness starts the servers (tests/app/e2e/servers.sh).
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "LauncherEndToEndFixture.h"
#include "TestLaunchers.h"
#include "TestSigningKey.h"
#include "app/ModuleLoader.h"
#include "base/FileUtil.h"
#include "base/Path.h"
#include "base/PlatformCrypto.h"
#include "data/DbContainer.h"
#include "data/LoaderConfig.h"

namespace {

int CountProcesses(const char* exeName) {
  CKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
    count += lstrcmpiA(entry.szExeFile, exeName) == 0;
  }
  return count;
}

std::string WebsiteLines() { return std::string("官方网站：http://www.") + BuildConfig::kProductDomain + "\r\n"; }

}  // namespace

TEST_F(LauncherEndToEnd, FreshStartDownloadsChecksUnpacksAndStartsTheWorkbench) {
  for (const char* pack : {"zip", "velmor"}) {
    SCOPED_TRACE(pack);
    DeleteTreeBestEffort(LoaderDir().c_str());
    DeleteFileA(m_trace.c_str());
    m_logStart["normal"] = Lines(LogOf("normal")).size();
    Publish(SampleLibrary(), pack);
    EXPECT_EQ(0u, Launch());
    EXPECT_TRUE(m_seen.empty());
    std::vector<Request> requests = Requests("normal", 2);
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("/loader.db", requests[0].path);
    EXPECT_EQ("", requests[0].ifNoneMatch);
    EXPECT_EQ(std::string("/loader.") + (std::string(pack) == "zip" ? "zip" : "vdb"), requests[1].path);
    EXPECT_EQ(ReadFileBytes(SampleLibrary()), ReadFileBytes(LoaderDir() + "\\loader.dll"));
    EXPECT_EQ(ReadFileBytes(kPublish + "\\loader.db"), ReadFileBytes(LoaderDir() + "\\loader_config.db"));
    ExpectWorkbenchStarted();
  }
}

TEST_F(LauncherEndToEnd, LaterStartsUseTheCacheAndWhatIsInstalled) {
  Publish(SampleLibrary());
  ASSERT_EQ(0u, Launch());
  m_logStart["normal"] = Lines(LogOf("normal")).size();
  DeleteFileA(m_trace.c_str());

  EXPECT_EQ(0u, Launch());
  std::vector<Request> requests = Requests("normal", 1);
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("\"" + UpperMd5(ReadFileBytes(kPublish + "\\loader.db")) + "\"", requests[0].ifNoneMatch);
  EXPECT_EQ(304, requests[0].status);
  ExpectWorkbenchStarted();

  // Only the package is left: it is unpacked again without a download.
  ASSERT_TRUE(DeleteFileA((LoaderDir() + "\\loader.dll").c_str()));
  m_logStart["normal"] = Lines(LogOf("normal")).size();
  EXPECT_EQ(0u, Launch());
  requests = Requests("normal", 1);
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("/loader.db", requests[0].path);
  EXPECT_EQ(ReadFileBytes(SampleLibrary()), ReadFileBytes(LoaderDir() + "\\loader.dll"));
}

TEST_F(LauncherEndToEnd, AnUnusableConfigurationIsReportedAndNothingIsInstalled) {
  LoaderFile file;
  file.file_name = "loader.dll";
  file.url = "http://config.velmor.example/loader.zip";
  file.compress_file_name = "loader.zip";
  file.compress_type = "zip";
  CLoaderConfig twoRecords;
  twoRecords.Add(file);
  twoRecords.Add(file);
  LoaderFile outside = file;
  outside.file_name = "..\\..\\loader.dll";
  CLoaderConfig notPlain;
  notPlain.Add(outside);
  for (const CLoaderConfig* config : {&twoRecords, &notPlain}) {
    ASSERT_TRUE(config->Save((kPublish + "\\loader.db").c_str(), "agent", CModuleLoader::kConfigPassword));
    EXPECT_EQ(0u, Launch());
    ASSERT_EQ(1u, m_seen.size());
    EXPECT_EQ("错误", m_seen[0].caption);
    EXPECT_EQ("加载配置数据异常，请确保网络可正常访问沐岚星官方网站！\r\n\r\n如有疑问，请联系官方网站客服处理！\r\n" +
                  WebsiteLines(),
              m_seen[0].text);
    EXPECT_FALSE(FileExists(LoaderDir() + "\\loader.dll"));
    EXPECT_FALSE(FileExists(m_run + "\\loader.dll"));
    EXPECT_FALSE(WorkbenchStarted());
  }
}

// A package that does not unpack, and a library that cannot be written: each ends the start with
// its own message, and nothing runs.
TEST_F(LauncherEndToEnd, UnpackingAndWritingFailuresAreReportedWithTheirTexts) {
  Publish(SampleLibrary());
  struct Case {
    const char* headline;
    std::function<void()> arrange;
  };
  const Case cases[] = {
      // A directory where the library goes: the download and unpacking work, the write does not.
      {"写入加载器异常！", [&] { ASSERT_TRUE(CPath((LoaderDir() + "\\loader.dll").c_str()).MakeDirectory()); }},
      // A record without a packing cannot be installed by a download.
      {"更新加载器异常！",
       [&] {
         LoaderFile file;
         file.file_name = "loader.dll";
         file.file_check = Md5Of(ReadFileBytes(SampleLibrary()));
         file.url = std::string("http://config.") + BuildConfig::kProductDomain + "/loader.zip";
         CLoaderConfig config;
         config.Add(file);
         ASSERT_TRUE(config.Save((kPublish + "\\loader.db").c_str(), "agent", CModuleLoader::kConfigPassword));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headline);
    c.arrange();
    EXPECT_EQ(0u, Launch());
    ASSERT_EQ(1u, m_seen.size());
    EXPECT_EQ("错误", m_seen[0].caption);
    EXPECT_EQ(std::string(c.headline) + "\r\n\r\n如有疑问，请联系官方网站客服处理！\r\n" + WebsiteLines(),
              m_seen[0].text);
    EXPECT_FALSE(WorkbenchStarted());
  }
}

TEST_F(LauncherEndToEnd, ANetworkThatComesBackIsRetriedAfterTheUserAsks) {
  Publish(SampleLibrary());
  UseServer("failing");  // drops its first four requests
  DWORD started = GetTickCount();
  EXPECT_EQ(0u, Launch({{"网络异常", IDRETRY}}));
  ASSERT_EQ(1u, m_seen.size());
  EXPECT_EQ("更新加载配置失败！\r\n请确保网络可正常访问沐岚星官方网站！\r\n\r\n如有疑问，请联系官方网站客服处理！\r\n" +
                WebsiteLines() + "\r\n是否继续重试？",
            m_seen[0].text);
  // Four attempts with 3, 5 and 8 s pauses, each followed by a second of the retry text.
  EXPECT_GE(GetTickCount() - started, 19000u);
  std::vector<Request> requests = Requests("failing", 2);
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ("/loader.db", requests[requests.size() - 2].path);
  EXPECT_EQ("/loader.zip", requests.back().path);
  ExpectWorkbenchStarted();
}

TEST_F(LauncherEndToEnd, CancellingTheRetryEndsQuietly) {
  UseLauncher("velmor_short_seconds.exe");
  UsePort(kClosedPort);
  EXPECT_EQ(0u, Launch({{"网络异常", IDCANCEL}}));
  ASSERT_EQ(1u, m_seen.size());
  EXPECT_EQ("网络异常", m_seen[0].caption);
  EXPECT_FALSE(WorkbenchStarted());
  EXPECT_FALSE(FileExists(LoaderDir() + "\\loader_config.db"));
}

TEST_F(LauncherEndToEnd, APackageThatFailsItsChecksumIsDownloadedThreeTimes) {
  UseLauncher("velmor_short_seconds.exe");
  Publish(SampleLibrary());
  ASSERT_TRUE(WriteFileBytes(kPublish + "\\loader.zip", "not the package the configuration names"));
  EXPECT_EQ(0u, Launch({{"网络异常", IDCANCEL}}));
  ASSERT_EQ(1u, m_seen.size());
  EXPECT_EQ("更新加载器失败！\r\n请确保网络可正常访问沐岚星官方网站！\r\n\r\n如有疑问，请联系官方网站客服处理！\r\n" +
                WebsiteLines() + "\r\n是否继续重试？",
            m_seen[0].text);
  // Before each new try the configuration is asked again, with its validator: a 304 keeps it.
  std::vector<Request> requests = Requests("normal", 6);
  ASSERT_EQ(6u, requests.size());
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(i % 2 ? "/loader.zip" : "/loader.db", requests[i].path) << i;
    if (i == 2 || i == 4) {
      EXPECT_EQ(304, requests[i].status) << i;
    }
  }
  EXPECT_FALSE(FileExists(LoaderDir() + "\\loader.dll"));
  EXPECT_FALSE(FileExists(LoaderDir() + "\\loader.zip"));  // a package that failed is never kept
}

// The configuration was read just before the site switched to the next release: its package fails
// the old digests, and the next try fetches the new configuration before the package.
TEST_F(LauncherEndToEnd, AConfigurationReadJustBeforeAPublishIsFetchedAgainForTheNextPackage) {
  const std::string next = m_scratch.File("next release");
  ASSERT_TRUE(CPath(next.c_str()).MakeDirectory());
  Publish(SampleLibrary());
  Publish(SampleLibrary(), "zip", next, "the next release's password");
  ASSERT_TRUE(CopyFileA((next + "\\loader.zip").c_str(), (kPublish + "\\loader.zip").c_str(), FALSE));
  CStartedLauncher launcher(m_exe);
  // The shipped launcher waits 3 s before its next try: time enough to publish the configuration.
  while (Requests("normal").size() < 2 && !launcher.EndsWithin(20)) {
  }
  ASSERT_TRUE(CopyFileA((next + "\\loader.db").c_str(), (kPublish + "\\loader.db").c_str(), FALSE));
  ASSERT_TRUE(launcher.EndsWithin(60000));
  EXPECT_EQ(0u, launcher.ExitCode());
  ExpectWorkbenchStarted();
  std::vector<Request> requests = Requests("normal", 4);
  ASSERT_EQ(4u, requests.size());
  EXPECT_EQ("/loader.db", requests[2].path);
  EXPECT_EQ(200, requests[2].status);
  EXPECT_EQ(ReadFileBytes(next + "\\loader.zip"), ReadFileBytes(LoaderDir() + "\\loader.zip"));
}

// A launcher ended halfway through a write, as by a power cut: the next start finds the file as it
// was before (here: none) and no torn copy, and goes on.
TEST_F(LauncherEndToEnd, AStartEndedMidWriteLeavesNoTornFileAndTheNextStartGoesOn) {
  UseLauncher("velmor_short_seconds.exe");
  Publish(SampleLibrary());
  for (const char* file : {"loader_config.db", "loader.zip", "loader.dll"}) {
    SCOPED_TRACE(file);
    DeleteTreeBestEffort(LoaderDir().c_str());
    DeleteFileA(m_trace.c_str());
    const std::string path = LoaderDir() + "\\" + file;
    SetEnvironmentVariableA("VELMOR_TEST_END_IN_WRITE", file);
    EXPECT_EQ(kEndedInWriteExitCode, Launch());
    SetEnvironmentVariableA("VELMOR_TEST_END_IN_WRITE", nullptr);
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(FileExists(PartialFileOf(path.c_str())));  // it did end halfway

    EXPECT_EQ(0u, Launch());
    EXPECT_TRUE(m_seen.empty());
    EXPECT_TRUE(WorkbenchStarted());
    EXPECT_TRUE(FileExists(path));
    EXPECT_FALSE(FileExists(PartialFileOf(path.c_str())));
  }
}

TEST_F(LauncherEndToEnd, LibrariesThatFailTheContractAreReportedWithTheirReason) {
  struct Case {
    const char* library;
    const char* fault;
    const char* reason;  // null: a silent exit
  };
  const Case cases[] = {{"no_export_loader.dll", "", "获取模块接口为空！"},
                        {"faulty_loader.dll", "start_null", "获取启动模块为空！"},
                        {"faulty_loader.dll", "data_false", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.library) + " " + c.fault);
    DeleteTreeBestEffort(LoaderDir().c_str());
    Publish(ExeDirectory() + "\\testlibs\\" + c.library);
    SetEnvironmentVariableA("VELMOR_TEST_FAULT", c.fault);
    EXPECT_EQ(0u, Launch());
    if (!c.reason) {
      EXPECT_TRUE(m_seen.empty());
      continue;
    }
    ASSERT_EQ(1u, m_seen.size());
    EXPECT_EQ("错误", m_seen[0].caption);
    EXPECT_EQ(std::string("启动软件失败！\r\n") + c.reason + "\r\n\r\n请登录沐岚星官方网站：http://www." +
                  BuildConfig::kProductDomain + "\r\n联系官方客服处理！",
              m_seen[0].text);
  }
}

TEST_F(LauncherEndToEnd, ASecondStartShowsTheRunningWorkbenchOrWaitsForItWithReboot) {
  Publish(SampleLibrary());
  SetEnvironmentVariableA("VELMOR_LOADER_AUTOCLOSE_MS", "6000");
  std::string command = "\"" + m_exe + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  CKernelHandle first(info.hProcess), firstThread(info.hThread);
  // A bound for a busy machine, not a speed check: the workbench usually opens within seconds.
  for (int i = 0; i < 600 && ReadFileBytes(m_trace).find("window ") == std::string::npos; ++i) Sleep(100);
  ASSERT_NE(std::string::npos, ReadFileBytes(m_trace).find("window ")) << "the workbench did not open";
  size_t requestsSoFar = Requests("normal").size();

  EXPECT_EQ(0u, Launch());
  EXPECT_EQ(requestsSoFar, Requests("normal").size());
  for (int i = 0; i < 50 && ReadFileBytes(m_trace).find("show_request") == std::string::npos; ++i) Sleep(100);
  EXPECT_NE(std::string::npos, ReadFileBytes(m_trace).find("show_request"));

  // With "/reboot" the second start waits for the first to go, then loads as usual.
  SetEnvironmentVariableA("VELMOR_LOADER_AUTOCLOSE_MS", "300");
  EXPECT_EQ(0u, Launch({}, "/reboot"));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first.Get(), 0));
  EXPECT_EQ(requestsSoFar + 1, Requests("normal", requestsSoFar + 1).size());
  EXPECT_EQ(2, CountEvents("start"));
}

TEST_F(LauncherEndToEnd, ALocalLibraryBesideTheExecutableIsUsedWithoutDownload) {
  Publish(SampleLibrary());
  ASSERT_TRUE(CopyFileA(SampleLibrary().c_str(), (m_run + "\\loader.dll").c_str(), FALSE));
  ASSERT_TRUE(WriteFileBytes(m_run + "\\update.ini", ""));
  EXPECT_EQ(0u, Launch());
  std::vector<Request> requests = Requests("normal", 1);
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("/loader.db", requests[0].path);
  EXPECT_FALSE(FileExists(LoaderDir() + "\\loader.dll"));
  ExpectWorkbenchStarted();
}

// The launcher never lingers without a window.
class NoInvisibleProcess : public LauncherEndToEnd {
protected:
  static constexpr DWORD kGoneWithinMs = 5000;

  // Starts the launcher against the server that drops every request and waits for its first
  // failure: the bar then counts down to the next attempt.
  void StartIntoTheCountdown(CStartedLauncher& launcher) {
    ForgetRequests("broken");  // a case before this one asked too
    ASSERT_NE(0u, launcher.Id());
    for (int i = 0; i < 100 && Requests("broken").empty(); ++i) Sleep(100);
    ASSERT_FALSE(Requests("broken").empty()) << "the launcher never asked";
    Sleep(500);
  }

  void ExpectGoneForGood(CStartedLauncher& launcher) {
    size_t asked = Requests("broken").size();
    EXPECT_TRUE(launcher.EndsWithin(kGoneWithinMs));
    EXPECT_EQ(0u, launcher.ExitCode());  // as the close button ends it
    EXPECT_EQ(0, CountProcesses("velmor.exe"));
    EXPECT_EQ(asked, Requests("broken").size());  // no attempt after the close
  }
};

TEST_F(NoInvisibleProcess, ABarClosedFromOutsideDuringTheCountdownEndsTheLauncher) {
  struct Case {
    const char* name;
    std::function<void(HWND bar, DWORD process)> close;
  };
  const Case cases[] = {
      {"WM_CLOSE", [](HWND bar, DWORD) { PostMessageA(bar, WM_CLOSE, 0, 0); }},
      // taskkill without /F asks the windows of the process to close.
      {"taskkill", [](HWND, DWORD process) { RunProgram("taskkill /pid " + std::to_string(process)); }},
  };
  UseServer("broken");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Only this case's requests show that its launcher reached the countdown.
    m_logStart["broken"] = Lines(LogOf("broken")).size();
    CStartedLauncher launcher(m_exe);
    StartIntoTheCountdown(launcher);
    HWND bar = WaitForWindowOf(launcher.Id(), "velmor_splash_wnd", nullptr, 0);
    ASSERT_NE(nullptr, bar);
    c.close(bar, launcher.Id());
    ExpectGoneForGood(launcher);
  }
}

TEST_F(NoInvisibleProcess, AQuestionOpenWhenTheBarIsClosedCountsAsCancel) {
  UseLauncher("velmor_short_seconds.exe");
  UseServer("broken");
  CStartedLauncher launcher(m_exe);
  StartIntoTheCountdown(launcher);
  // Three pauses of 3, 5 and 8 short seconds, each followed by one of the retry text.
  ASSERT_NE(nullptr, WaitForWindowOf(launcher.Id(), "#32770", "网络异常", 40000));
  HWND bar = WaitForWindowOf(launcher.Id(), "velmor_splash_wnd", nullptr, 0);
  ASSERT_NE(nullptr, bar);
  PostMessageA(bar, WM_CLOSE, 0, 0);
  ExpectGoneForGood(launcher);
}

TEST_F(NoInvisibleProcess, AMutexThisCopyMayNotOpenMeansAnotherCopyRuns) {
  Publish(SampleLibrary());
  CKernelHandle elevatedCopy = HoldLauncherInstance(true);
  ASSERT_TRUE(elevatedCopy.IsValid());
  EXPECT_EQ(0u, Launch());
  EXPECT_TRUE(m_seen.empty());
  EXPECT_TRUE(Requests("normal").empty());
  EXPECT_FALSE(WorkbenchStarted());
}

// The launcher with the offline start switched on: an outage of the configuration server does
// not stop a start whose cached configuration and installed loader still agree.
class OfflineStart : public LauncherEndToEnd {
protected:
  void SetUp() override {
    LauncherEndToEnd::SetUp();
    UseLauncher("velmor_offline_start.exe");
  }

  // A first start online installs everything; then the server goes away.
  void InstallThenLoseTheServer() {
    Publish(SampleLibrary());
    ASSERT_EQ(0u, Launch());
    ASSERT_TRUE(WorkbenchStarted());
    ASSERT_TRUE(DeleteFileA(m_trace.c_str()));
    UsePort(kClosedPort);
  }

  // After the first round of attempts the user is asked, as without the switch, and nothing loads.
  void ExpectTheRetryBoxAndNoLoad() {
    EXPECT_EQ(0u, Launch({{"网络异常", IDCANCEL}}));
    ASSERT_EQ(1u, m_seen.size());
    EXPECT_EQ("网络异常", m_seen[0].caption);
    EXPECT_FALSE(WorkbenchStarted());
  }
};

TEST_F(OfflineStart, WithTheServerDownTheCachedConfigurationStartsTheInstalledLoader) {
  InstallThenLoseTheServer();
  EXPECT_EQ(0u, Launch({{"网络异常", IDCANCEL}}));
  EXPECT_TRUE(m_seen.empty());
  ExpectWorkbenchStarted();
}

TEST_F(OfflineStart, AnAlteredLoaderOnDiskIsNeverStartedOffline) {
  InstallThenLoseTheServer();
  ASSERT_TRUE(WriteFileBytes(LoaderDir() + "\\loader.dll", ReadFileBytes(SampleLibrary()) + "tampered"));
  ExpectTheRetryBoxAndNoLoad();
}

TEST_F(OfflineStart, WithoutACachedConfigurationTheUserIsAsked) {
  UsePort(kClosedPort);
  ExpectTheRetryBoxAndNoLoad();
}

TEST_F(LauncherEndToEnd, WithoutTheOfflineSwitchAnOutageEndsInTheRetryBoxAsBefore) {
  UseLauncher("velmor_short_seconds.exe");
  Publish(SampleLibrary());
  ASSERT_EQ(0u, Launch());
  ASSERT_TRUE(DeleteFileA(m_trace.c_str()));
  UsePort(kClosedPort);
  EXPECT_EQ(0u, Launch({{"网络异常", IDCANCEL}}));
  ASSERT_EQ(1u, m_seen.size());
  EXPECT_FALSE(WorkbenchStarted());
}

TEST_F(LauncherEndToEnd, ASignedConfigurationStartsAnUnsignedLauncher) {
  PublishSigned("1");
  EXPECT_EQ(0u, Launch());
  EXPECT_TRUE(m_seen.empty());
  ExpectWorkbenchStarted();
}

// The launcher built with the tests' public key: only what that key signed runs.
class SignedConfiguration : public LauncherEndToEnd {
protected:
  void SetUp() override {
    LauncherEndToEnd::SetUp();
    UseLauncher("velmor_signed.exe");
    uint8_t publicKey[kEcdsaP256PublicBytes], privateKey[kEcdsaP256PrivateBytes];
    ASSERT_TRUE(ParseHexExact(TestSigningKey::kPublicHex, publicKey, sizeof(publicKey)));
    ASSERT_TRUE(ParseHexExact(TestSigningKey::kPrivateHex, privateKey, sizeof(privateKey)));
    ASSERT_TRUE(m_key.ImportPrivate(publicKey, privateKey));
  }

  std::string Cached() const { return ReadFileBytes(LoaderDir() + "\\loader_config.db"); }

  // A first start installs the configuration published signed with `serial`; its bytes.
  std::string InstallSigned(const char* serial) {
    PublishSigned(serial);
    EXPECT_EQ(0u, Launch());
    EXPECT_TRUE(WorkbenchStarted());
    DeleteFileA(m_trace.c_str());
    return ReadFileBytes(kPublish + "\\loader.db");
  }

  // The published record and its signature, as anyone on the path can read them.
  LoaderFile PublishedRecord(CByteBuffer* signature = nullptr) {
    CLoaderConfig config;
    EXPECT_TRUE(config.LoadFromFile((kPublish + "\\loader.db").c_str(), CModuleLoader::kConfigPassword, nullptr));
    CByteBuffer image, data;
    CDbContainer container;
    if (signature && image.ReadFromFile((kPublish + "\\loader.db").c_str()) > 0 &&
        container.Open(image, CModuleLoader::kConfigPassword)) {
      container.ReadEntry(CLoaderConfig::kSignatureEntry, *signature);
    }
    return config.Count() == 1 ? *config.At(0) : LoaderFile();
  }

  // loader.db holding `file` as data.txt, with the well-known password, and `signature` as data.sig.
  static std::string Forged(const LoaderFile& file, const CByteBuffer* signature) {
    CLoaderConfig config;
    config.Add(file);
    CDbContainer container;
    EXPECT_TRUE(container.WriteTextEntry(CLoaderConfig::kDataEntry, SerializeLoaderFiles(config).c_str()));
    if (signature) {
      EXPECT_TRUE(container.WriteEntry(CLoaderConfig::kSignatureEntry, *signature));
    }
    CByteBuffer image;
    container.BuildImage(CModuleLoader::kConfigPassword, image);
    return Text(image);
  }

  std::string SignedWith(const LoaderFile& file, const CEcdsaP256Key& key) {
    CScratchDir scratch;
    CLoaderConfig config;
    config.Add(file);
    EXPECT_TRUE(config.Save(scratch.File("loader.db").c_str(), "", CModuleLoader::kConfigPassword, &key));
    return ReadFileBytes(scratch.File("loader.db"));
  }

  // One start that makes one request only (the configuration, from the cache's point of view); it.
  Request LaunchForOneRequest() {
    m_logStart["normal"] = Lines(LogOf("normal")).size();
    EXPECT_EQ(0u, Launch());
    std::vector<Request> requests = Requests("normal", 1);
    EXPECT_EQ(1u, requests.size());
    return requests.empty() ? Request{"", "", -1} : requests[0];
  }

  // The parse failure's message and nothing started.
  void ExpectRefused() {
    ASSERT_EQ(1u, m_seen.size());
    EXPECT_EQ("错误", m_seen[0].caption);
    EXPECT_EQ("加载配置数据异常，请确保网络可正常访问沐岚星官方网站！\r\n\r\n如有疑问，请联系官方网站客服处理！\r\n" +
                  WebsiteLines(),
              m_seen[0].text);
    EXPECT_FALSE(WorkbenchStarted());
  }

  CEcdsaP256Key m_key;
};

TEST_F(SignedConfiguration, ASignedConfigurationStartsAndIsVerifiedAgainOnThe304) {
  std::string good = InstallSigned("5");
  EXPECT_TRUE(m_seen.empty());
  EXPECT_EQ(good, Cached());
  EXPECT_EQ(304, LaunchForOneRequest().status);
  ExpectWorkbenchStarted();
}

TEST_F(SignedConfiguration, RefusedConfigurationsNeverReplaceTheCachedOne) {
  std::string good = InstallSigned("5");
  CByteBuffer signature;
  LoaderFile record = PublishedRecord(&signature);
  ASSERT_EQ(static_cast<int>(kEcdsaP256SignatureBytes), signature.Length());

  // What anyone on the path can do: another library, its MD5s recomputed, the old signature kept.
  LoaderFile swapped = record;
  std::string other = ReadFileBytes(ExeDirectory() + "\\testlibs\\no_export_loader.dll");
  swapped.file_check = Md5Of(other);
  swapped.desc = "forged";
  LoaderFile newer = record, older = record, expired = record;
  newer.serial = "6";
  older.serial = "4";
  expired.serial = "6";
  expired.expires = "2001-01-01T00:00:00Z";
  CEcdsaP256Key otherKey;
  ASSERT_TRUE(otherKey.Generate());
  const struct {
    const char* name;
    std::string published;
  } cases[] = {
      {"data.txt changed after signing", Forged(swapped, &signature)},
      {"signed with another key", SignedWith(newer, otherKey)},
      {"no data.sig", Forged(newer, nullptr)},
      {"a lower serial than the cached one", SignedWith(older, m_key)},
      {"expired", SignedWith(expired, m_key)},
  };
  // The last good configuration and its loader still hold: the start goes on with them, without
  // a word, as it would offline (a rollback or an expired publish must not lock users out).
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteFileBytes(kPublish + "\\loader.db", c.published));
    EXPECT_EQ(0u, Launch());
    EXPECT_TRUE(m_seen.empty());
    EXPECT_TRUE(WorkbenchStarted());
    EXPECT_EQ(good, Cached());
    DeleteFileA(m_trace.c_str());
  }

  // The last good configuration and its validator are still in place.
  ASSERT_TRUE(WriteFileBytes(kPublish + "\\loader.db", good));
  Request request = LaunchForOneRequest();
  EXPECT_EQ("\"" + UpperMd5(good) + "\"", request.ifNoneMatch);
  EXPECT_EQ(304, request.status);
  ExpectWorkbenchStarted();

  // Without the installed loader there is nothing to go on with.
  DeleteFileA(m_trace.c_str());
  ASSERT_TRUE(WriteFileBytes(kPublish + "\\loader.db", SignedWith(expired, m_key)));
  ASSERT_TRUE(DeleteFileA((LoaderDir() + "\\loader.dll").c_str()));
  EXPECT_EQ(0u, Launch());
  ExpectRefused();
  // The cache lost (an uninstall that removed the data): the serial this user accepted still
  // refuses the older, validly signed configuration.
  ASSERT_TRUE(DeleteFileA((LoaderDir() + "\\loader_config.db").c_str()));
  ASSERT_TRUE(WriteFileBytes(kPublish + "\\loader.db", SignedWith(older, m_key)));
  EXPECT_EQ(0u, Launch());
  ExpectRefused();
  EXPECT_FALSE(FileExists(LoaderDir() + "\\loader_config.db"));
}

// Copies of the system libraries the launcher uses that are no KnownDLLs, planted beside it, with
// Wine told (for the whole run: VELMOR_DLL_OVERRIDES) to prefer a copy found on the search path,
// as Windows does: none is ever loaded.
TEST_F(SignedConfiguration, NoLibraryPlantedBesideTheLauncherIsLoaded) {
  PublishSigned("5");
  const std::string markers = m_scratch.File("markers");
  ASSERT_TRUE(CPath(markers.c_str()).MakeDirectory());
  // Not version.dll: Wine's own user32 imports it, so Wine loads a planted copy whatever we do
  // (Windows's does not); the import table test covers it.
  const char* const planted[] = {"wininet.dll", "msimg32.dll", "bcrypt.dll"};
  for (const char* name : planted) {
    ASSERT_TRUE(
        CopyFileA((ExeDirectory() + "\\testlibs\\planted_library.dll").c_str(), (m_run + "\\" + name).c_str(), FALSE));
  }
  SetEnvironmentVariableA("VELMOR_PLANTED_MARKERS", markers.c_str());
  // The control: a program that imports wininet.dll from the same folder does load the copy.
  ASSERT_TRUE(CopyFileA((ExeDirectory() + "\\wininet_bench.exe").c_str(), (m_run + "\\control.exe").c_str(), FALSE));
  RunProgram("\"" + m_run + "\\control.exe\"");
  bool controlLoaded = FileExists(markers + "\\wininet.dll.loaded");
  DeleteFileA((markers + "\\wininet.dll.loaded").c_str());
  unsigned long exitCode = Launch();
  SetEnvironmentVariableA("VELMOR_PLANTED_MARKERS", nullptr);
  ASSERT_TRUE(controlLoaded);
  EXPECT_EQ(0u, exitCode);
  ExpectWorkbenchStarted();
  for (const char* name : planted) EXPECT_FALSE(FileExists(markers + "\\" + name + ".loaded")) << name;
}

TEST_F(SignedConfiguration, ACachedConfigurationAlteredOnDiskIsRefusedOnThe304) {
  InstallSigned("5");
  CByteBuffer signature;
  LoaderFile altered = PublishedRecord(&signature);
  altered.url = "http://config.velmor.example/elsewhere.zip";
  std::string forged = Forged(altered, &signature);
  // The server holds the same bytes, so it answers 304 and the launcher uses its cache.
  ASSERT_TRUE(WriteFileBytes(LoaderDir() + "\\loader_config.db", forged));
  ASSERT_TRUE(WriteFileBytes(kPublish + "\\loader.db", forged));
  EXPECT_EQ(304, LaunchForOneRequest().status);
  ExpectRefused();
}

// A signed record whose package digests disagree stands in for an MD5 collision: the package
// matches its MD5, not its SHA-256. Each download counts as failed, and nothing is installed.
TEST_F(SignedConfiguration, APackageMatchingItsMd5ButNotItsSha256IsNeverLoaded) {
  PublishSigned("5");
  LoaderFile record = PublishedRecord();
  record.compress_file_sha256 = Sha256Text(Bytes("another package"));
  ASSERT_TRUE(WriteFileBytes(kPublish + "\\loader.db", SignedWith(record, m_key)));
  EXPECT_EQ(0u, Launch({{"网络异常", IDCANCEL}}));
  ASSERT_EQ(1u, m_seen.size());
  EXPECT_EQ("网络异常", m_seen[0].caption);
  std::vector<Request> requests = Requests("normal", 6);  // each try asks for the configuration first
  EXPECT_EQ(3,
            std::count_if(requests.begin(), requests.end(), [](const Request& r) { return r.path == "/loader.zip"; }));
  EXPECT_FALSE(FileExists(LoaderDir() + "\\loader.dll"));
  EXPECT_FALSE(WorkbenchStarted());
}
