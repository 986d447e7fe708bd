#include "SiteDeployment.h"

#include "base/FileUtil.h"
#include "base/Path.h"

namespace {

const std::string kStaging = kState + "\\staging";
const char kPublishScript[] = VELMOR_CONFIG_SERVER_TOOLS "/publish.sh";
constexpr int kPublishWaitMs = 30000;

// The Unix path of a path on Wine's drive Z: (the Unix root).
std::string UnixPath(const std::string& path) {
  std::string unix = path.substr(2);
  for (char& c : unix) {
    if (c == '\\') c = '/';
  }
  return unix;
}

}  // namespace

void SiteDeployment::SetUp() {
  LauncherEndToEnd::SetUp();
  DeleteTreeBestEffort(kStaging.c_str());
}

std::string SiteDeployment::NewStaging() {
  std::string folder = kStaging + "\\" + std::to_string(++m_stagings);
  EXPECT_TRUE(CPath(folder.c_str()).MakeDirectory());
  return folder;
}

std::string SiteDeployment::Stage(const std::string& library, bool contentNamed) {
  std::string folder = NewStaging();
  Publish(library, "zip", folder, kPassword, contentNamed);
  return folder;
}

void SiteDeployment::PublishStagedTo(const std::string& staging, const std::string& site,
                                     const std::vector<std::string>& servers) {
  std::string command = "Z:\\bin\\bash " + std::string(kPublishScript) + " " + UnixPath(staging) + " " + UnixPath(site);
  for (const std::string& nginx : servers) command += " --pid-file " + UnixPath(kState) + "/" + nginx + "/site.pid";
  // Wine starts a Unix program without waiting for it or passing on its exit code: the switch
  // of the site's current release shows that it has done its work.
  RunProgram(command);
  std::string published = ReadFileBytes(staging + "\\loader.db");
  for (int i = 0; i < kPublishWaitMs / 100 && ReadFileBytes(site + "\\current\\loader.db") != published; ++i) {
    Sleep(100);
  }
  ASSERT_EQ(published, ReadFileBytes(site + "\\current\\loader.db")) << "publish.sh did not switch";
}

void SiteDeployment::ExpectInstalledPair(const std::string& release, const std::string& library) {
  EXPECT_EQ(ReadFileBytes(release + "\\loader.db"), ReadFileBytes(LoaderDir() + "\\loader_config.db"));
  EXPECT_EQ(ReadFileBytes(release + "\\loader.zip"), ReadFileBytes(LoaderDir() + "\\loader.zip"));
  EXPECT_EQ(ReadFileBytes(library), ReadFileBytes(LoaderDir() + "\\loader.dll"));
}
