#include "app/LauncherApp.h"

#include <new>

#include "app/Elevation.h"
#include "app/LoadFlow.h"
#include "app/ProductTexts.h"
#include "app/SetupActions.h"
#include "app/VersionInfo.h"
#include "base/TextFormat.h"
#include "data/DataPaths.h"
#include "net/EventSocket.h"
#include "ui/MessageBox.h"
#include "ui/SplashWindow.h"

namespace {

const char kDataDirectoryFailed[] = "初始化数据目录失败！\r\n";

// The version resource's Chinese (PRC) string table, stored as UTF-16.
constexpr WORD kStringTableLanguage = 2052;
constexpr WORD kStringTableCodePage = 1200;

}  // namespace

CLauncherApp::CLauncherApp(const LauncherOptions& options) : m_options(options) {
  m_product.commandLine = &CommandLine();
  m_product.version = "0.0.0";
}

bool CLauncherApp::InitInstance() {
  m_ole.emplace();
  if (!PrepareDataDirectory()) return false;
  ReadVersionResource();

  CSetupActions setup(m_product);
  // A setup start ends here: it never reaches the first-run question or the single-instance rule.
  if (HasSwitch("/u")) {
    EnableDebugPrivilege();
    setup.Uninstall();
    return false;
  }
  if (HasSwitch("/config")) {
    EnableDebugPrivilege();
    setup.RunSetupSwitches();
    return false;
  }
  setup.AskAddUninstallInfo();

  if (!m_instance.MayStart(HasSwitch("/reboot"))) return false;
  if (!NetStartup()) return false;
  m_loader.reset(new (std::nothrow) CModuleLoader(m_options.configPublicKey));
  if (!m_loader) return false;
  m_loader->SetHttps(m_options.https);
  m_loader->SetSystemProxy(m_options.systemProxy);
  // Loading failed or was declined when there is no start entry: the worker has said why.
  if (RunSplash()) m_loader->HandOver(GetDataRoot());
  return false;
}

// The bar runs modally on this thread while its worker runs the loading flow and closes it. True
// when the flow ran to its end; a bar closed from outside stopped it, and nothing is handed over.
bool CLauncherApp::RunSplash() {
  CModuleLoader& loader = *m_loader;
  LauncherOptions options = m_options;
  CSplashWindow splash([&loader, options](CSplashWindow& window) {
    CLoadFlow(window, loader, options.offlineStart, options.flowSecondMs).RunLoadFlow();
  });
  if (!splash.CreateCentred()) {
    ShowDesktopMessage(kStartProgramFailedText, kErrorCaption, MB_ICONHAND);
    return false;
  }
  splash.RunModal(nullptr, true);
  return splash.EndFlow();
}

int CLauncherApp::ExitInstance() {
  NetCleanup();
  m_loader.reset();
  m_ole.reset();
  return 0;
}

// Finds the data directory, creating the default one on first run, and makes it the data root.
bool CLauncherApp::PrepareDataDirectory() {
  char directory[MAX_PATH] = {};
  if (!FindDataDirectory(directory, sizeof(directory))) {
    CreateDataDirectory(nullptr);
    if (!FindDataDirectory(directory, sizeof(directory))) return ReportNoDataDirectory();
  }
  return SetDataRoot(directory) || ReportNoDataDirectory();
}

bool CLauncherApp::ReportNoDataDirectory() const {
  std::string message = kDataDirectoryFailed + LogInToSiteText();
  ShowDesktopMessage(message.c_str(), kErrorCaption, MB_ICONHAND);
  return false;
}

void CLauncherApp::ReadVersionResource() {
  CVersionInfo info;
  if (!info.Load()) return;
  WORD parts[4];
  info.GetProductVersion(parts);
  FormatString(m_product.version, "%d.%d.%d", parts[0], parts[1], parts[2]);
  const CVersionStringTable* table = info.FindStringTable(kStringTableLanguage, kStringTableCodePage);
  if (!table) return;
  m_product.productName = table->Get(EVersionString::ProductName);
  m_product.internalName = table->Get(EVersionString::InternalName);
  m_product.companyName = table->Get(EVersionString::CompanyName);
}
