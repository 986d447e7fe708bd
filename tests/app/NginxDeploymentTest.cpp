// The launcher against the deployment: the generated nginx site and the reference server, both
// serving the site folder that publish.sh keeps (started by tests/app/e2e/servers.sh). Releases
// are staged with velmor-pack and published by publish.sh, a Unix program that Wine starts as is.
#include <string>
#include <vector>

#include "LauncherEndToEndFixture.h"
#include "base/FileUtil.h"
#include "base/Path.h"

namespace {

const std::string kSite = kState + "\\site";
const std::string kStaging = kState + "\\staging";
const char kPublishScript[] = VELMOR_CONFIG_SERVER_TOOLS "/publish.sh";
constexpr DWORD kLauncherEndsWithinMs = 60000;
constexpr int kPublishWaitMs = 30000;

// The Unix path of a path on Wine's drive Z: (the Unix root).
std::string UnixPath(const std::string& path) {
  std::string unix = path.substr(2);
  for (char& c : unix) {
    if (c == '\\') c = '/';
  }
  return unix;
}

// Each case runs against one server and its throttled twin: "nginx" or "site" (the reference server).
class Deployment : public LauncherEndToEnd, public ::testing::WithParamInterface<std::string> {
protected:
  void SetUp() override {
    LauncherEndToEnd::SetUp();
    m_server = GetParam();
    m_slowServer = m_server + "-slow";
    UseServer(m_server.c_str());
    DeleteTreeBestEffort(kStaging.c_str());
  }

  // velmor-pack writes loader.db and its package into a new staging folder.
  std::string Stage(const std::string& library) {
    std::string folder = kStaging + "\\" + std::to_string(++m_stagings);
    EXPECT_TRUE(CPath(folder.c_str()).MakeDirectory());
    Publish(library, "zip", folder);
    return folder;
  }

  // publish.sh makes the staged folder the current release and reloads both nginx.
  void PublishStaged(const std::string& staging) {
    std::string command = "Z:\\bin\\bash " + std::string(kPublishScript) + " " + UnixPath(staging) + " " +
                          UnixPath(kSite) + " --pid-file " + UnixPath(kState) + "/nginx/site.pid --pid-file " +
                          UnixPath(kState) + "/nginx-slow/site.pid";
    // Wine starts a Unix program without waiting for it or passing on its exit code: the switch
    // of the site's current release shows that it has done its work.
    RunProgram(command);
    std::string published = ReadFileBytes(staging + "\\loader.db");
    for (int i = 0; i < kPublishWaitMs / 100 && ReadFileBytes(kSite + "\\current\\loader.db") != published; ++i) {
      Sleep(100);
    }
    ASSERT_EQ(published, ReadFileBytes(kSite + "\\current\\loader.db")) << "publish.sh did not switch";
  }
  void PublishRelease(const std::string& library) { PublishStaged(Stage(library)); }

  // The sample library with bytes after its sections: loaded the same, but another file to install.
  std::string NextLibrary() {
    std::string folder = m_scratch.File("next");
    CPath(folder.c_str()).MakeDirectory();
    EXPECT_TRUE(WriteFileBytes(folder + "\\loader.dll", ReadFileBytes(SampleLibrary()) + std::string(64, '\x5a')));
    return folder + "\\loader.dll";
  }

  // What the launcher keeps: the configuration, the package it downloaded and the installed library.
  void ExpectInstalledPair(const std::string& release, const std::string& library) {
    EXPECT_EQ(ReadFileBytes(release + "\\loader.db"), ReadFileBytes(LoaderDir() + "\\loader_config.db"));
    EXPECT_EQ(ReadFileBytes(release + "\\loader.zip"), ReadFileBytes(LoaderDir() + "\\loader.zip"));
    EXPECT_EQ(ReadFileBytes(library), ReadFileBytes(LoaderDir() + "\\loader.dll"));
  }

  std::string m_server, m_slowServer;
  int m_stagings = 0;
};

}  // namespace

TEST_P(Deployment, AFirstStartDownloadsAndTheNextGetsA304) {
  std::string release = Stage(SampleLibrary());
  PublishStaged(release);
  EXPECT_EQ(0u, Launch());
  EXPECT_TRUE(m_seen.empty());
  std::vector<Request> requests = Requests(m_server.c_str(), 2);
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("/loader.db", requests[0].path);
  EXPECT_EQ("", requests[0].ifNoneMatch);
  EXPECT_EQ(200, requests[0].status);
  EXPECT_EQ("/loader.zip", requests[1].path);
  ExpectInstalledPair(release, SampleLibrary());
  ExpectWorkbenchStarted();

  ForgetRequests(m_server.c_str());
  ASSERT_TRUE(DeleteFileA(m_trace.c_str()));
  EXPECT_EQ(0u, Launch());
  requests = Requests(m_server.c_str(), 1);
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("\"" + UpperMd5(ReadFileBytes(release + "\\loader.db")) + "\"", requests[0].ifNoneMatch);
  EXPECT_EQ(304, requests[0].status);
  ExpectWorkbenchStarted();
}

TEST_P(Deployment, APublishBetweenTwoStartsIsPickedUp) {
  PublishRelease(SampleLibrary());
  ASSERT_EQ(0u, Launch());
  std::string next = Stage(NextLibrary());
  PublishStaged(next);
  ForgetRequests(m_server.c_str());
  ASSERT_TRUE(DeleteFileA(m_trace.c_str()));
  EXPECT_EQ(0u, Launch());
  std::vector<Request> requests = Requests(m_server.c_str(), 2);
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(200, requests[0].status);  // the cached validator names the previous release
  EXPECT_EQ("/loader.zip", requests[1].path);
  ExpectInstalledPair(next, NextLibrary());
  ExpectWorkbenchStarted();
}

TEST_P(Deployment, APublishDuringASlowDownloadNeverMixesThePair) {
  UseServer(m_slowServer.c_str());
  std::string first = Stage(SampleLibrary());
  std::string second = Stage(NextLibrary());
  PublishStaged(first);
  {
    CStartedLauncher launcher(m_exe);
    ASSERT_NE(0u, launcher.Id());
    for (int i = 0; i < 300 && Requests(m_slowServer.c_str()).empty(); ++i) Sleep(100);
    ASSERT_EQ(1u, Requests(m_slowServer.c_str()).size()) << "the configuration was never fetched";
    PublishStaged(second);
    // A request is logged when its answer is complete: the package was still on its way.
    EXPECT_EQ(1u, Requests(m_slowServer.c_str()).size());
    ASSERT_TRUE(launcher.EndsWithin(kLauncherEndsWithinMs));
  }
  std::vector<Request> requests = Requests(m_slowServer.c_str(), 2);
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("/loader.zip", requests[1].path);
  EXPECT_EQ(200, requests[1].status);
  ExpectInstalledPair(first, SampleLibrary());
  ExpectWorkbenchStarted();

  // The next start takes the new pair.
  ASSERT_TRUE(DeleteFileA(m_trace.c_str()));
  EXPECT_EQ(0u, Launch());
  EXPECT_TRUE(m_seen.empty());
  ExpectInstalledPair(second, NextLibrary());
  ExpectWorkbenchStarted();
}

INSTANTIATE_TEST_SUITE_P(Servers, Deployment, ::testing::Values("nginx", "site"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param == "site" ? std::string("ReferenceServer") : std::string("Nginx");
                         });
