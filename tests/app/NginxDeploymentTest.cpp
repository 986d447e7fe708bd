// The launcher against the deployment: the generated nginx site and the reference server, both
// serving the site folder that publish.sh keeps (started by tests/app/e2e/servers.sh), and the
// https launcher against nginx over TLS behind a CONNECT proxy. Releases are staged with
// velmor-pack and published by publish.sh, a Unix program that Wine starts as is.
#include <algorithm>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "BuildConfig.h"
#include "SiteDeployment.h"
#include "base/FileUtil.h"
#include "base/Path.h"

namespace {

constexpr DWORD kLauncherEndsWithinMs = 60000;

// Each case runs against one server and its throttled twin: "nginx" or "site" (the reference server).
class Deployment : public SiteDeployment, public ::testing::WithParamInterface<std::string> {
protected:
  Deployment() : SiteDeployment(kSite, {"nginx", "nginx-slow"}) {}

  void SetUp() override {
    SiteDeployment::SetUp();
    m_server = GetParam();
    m_slowServer = m_server + "-slow";
    UseServer(m_server.c_str());
  }

  // The sample library with bytes after its sections: loaded the same, but another file to install.
  std::string NextLibrary() {
    std::string folder = m_scratch.File("next");
    CPath(folder.c_str()).MakeDirectory();
    EXPECT_TRUE(WriteFileBytes(folder + "\\loader.dll", ReadFileBytes(SampleLibrary()) + std::string(64, '\x5a')));
    return folder + "\\loader.dll";
  }

  std::string m_server, m_slowServer;
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

namespace {

// velmor_https.exe (signed configurations, https only) through the CONNECT proxy its ".Proxy" file
// names, to nginx serving a site of its own over TLS with this run's certificate for
// config.<domain>, whose root the harness trusted.
class HttpsDeployment : public SiteDeployment {
protected:
  HttpsDeployment() : SiteDeployment(kState + "\\site-https", {"nginx-https"}) {}

  void SetUp() override {
    SiteDeployment::SetUp();
    UseLauncher("velmor_https.exe");
    UseServer("https-proxy");
  }
};

}  // namespace

TEST_F(HttpsDeployment, StartsOverTlsThroughTheProxyTunnelAndRefusesAPlainPackageUrl) {
  const std::string tunnel = std::string("CONNECT config.") + BuildConfig::kProductDomain + ":443";
  const std::string current = m_site + "\\current";
  // publish.sh takes only a serial above the current release's, and the site lives for the run.
  const long long serial = static_cast<long long>(time(nullptr)) * 10;
  struct Row {
    const char* name;
    const char* recordScheme;  // publishes a signed release whose record's url has it; null: none
    std::vector<std::pair<const char*, int>> served;  // path and status, in order
    bool starts;                                      // else the parse failure's message and nothing installed
  };
  const Row rows[] = {
      {"a signed record naming a plain http package", "http", {{"/loader.db", 200}}, false},
      {"a first start", "https", {{"/loader.db", 200}, {"/loader.zip", 200}}, true},
      {"the next start", nullptr, {{"/loader.db", 304}}, true},
  };
  int published = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.recordScheme) {
      std::string staging = NewStaging();
      PublishSigned(std::to_string(serial + ++published), staging, row.recordScheme);
      PublishStaged(staging);
    }
    ForgetRequests("nginx-https");
    size_t tunnelsBefore = Lines(LogOf("https-proxy")).size();
    DeleteFileA(m_trace.c_str());
    EXPECT_EQ(0u, Launch());

    std::vector<Request> served = Requests("nginx-https", row.served.size());
    ASSERT_EQ(row.served.size(), served.size());
    // Nothing cached before the first start (the refused configuration is not kept), then its tag.
    std::string tag = "\"" + UpperMd5(ReadFileBytes(current + "\\loader.db")) + "\"";
    for (size_t i = 0; i < served.size(); ++i) {
      EXPECT_EQ(row.served[i].first, served[i].path) << i;
      EXPECT_EQ(row.served[i].second, served[i].status) << i;
      EXPECT_EQ(served[i].status == 304 ? tag : "", served[i].ifNoneMatch) << i;
      EXPECT_EQ("TLSv1.2", served[i].tls) << i;
    }
    // Each request came through a tunnel of its own to config.<domain>:443.
    std::vector<std::string> tunnels = Lines(LogOf("https-proxy"));
    tunnels.erase(tunnels.begin(), tunnels.begin() + std::min(tunnelsBefore, tunnels.size()));
    EXPECT_EQ(served.size(), tunnels.size());
    for (const std::string& line : tunnels) EXPECT_EQ(tunnel, line.substr(0, line.find('\t')));

    if (row.starts) {
      EXPECT_TRUE(m_seen.empty());
      ExpectInstalledPair(current, SampleLibrary());
      ExpectWorkbenchStarted();
    } else {
      ASSERT_EQ(1u, m_seen.size());
      EXPECT_EQ("错误", m_seen[0].caption);
      EXPECT_EQ(0u, m_seen[0].text.rfind("加载配置数据异常，", 0)) << m_seen[0].text;
      for (const char* file : {"loader_config.db", "loader.zip", "loader.dll"}) {
        EXPECT_FALSE(FileExists(LoaderDir() + "\\" + file)) << file;
      }
      EXPECT_FALSE(WorkbenchStarted());
    }
  }
}
