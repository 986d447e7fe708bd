// The launcher's application object: the start-up sequence and the orderly exit.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "BuildConfig.h"
#include "app/AppBase.h"
#include "app/LoadFlow.h"
#include "app/ModuleLoader.h"
#include "app/ProductIdentity.h"
#include "app/SingleInstance.h"
#include "base/ComScope.h"

// What a build decides about a start; the defaults are this build's values. The end-to-end tests
// run launchers built with other values, and with short pauses where they wait through retries.
struct LauncherOptions {
  bool offlineStart = BuildConfig::kOfflineStart;               // the cached configuration when no server answers
  bool https = BuildConfig::kHttps;                             // https only, certificates checked
  bool systemProxy = BuildConfig::kSystemProxy;                 // the user's proxy settings, proxy logons
  const char* configPublicKey = BuildConfig::kConfigPublicKey;  // only what it signed counts; empty: unsigned
  DWORD flowSecondMs = CLoadFlow::kSecondMs;                    // one second of the retry countdowns
};

class CLauncherApp : public CAppBase {
public:
  explicit CLauncherApp(const LauncherOptions& options = LauncherOptions());

  bool InitInstance() override;  // false on every path: the work is done inside
  int ExitInstance() override;

  const char* ProductName() const { return m_product.productName.c_str(); }
  const char* InternalName() const { return m_product.internalName.c_str(); }
  const char* CompanyName() const { return m_product.companyName.c_str(); }
  const std::string& Version() const { return m_product.version; }  // "major.minor.build"

private:
  bool PrepareDataDirectory();
  bool ReportNoDataDirectory() const;
  void ReadVersionResource();
  bool RunSplash();

  // Created for the loading; the worker thread fills it while the splash bar runs modally, and
  // the main thread reads it only after that loop has ended.
  std::unique_ptr<CModuleLoader> m_loader;
  std::optional<COleScope> m_ole;  // from InitInstance to ExitInstance
  CSingleInstance m_instance;

  LauncherOptions m_options;
  ProductIdentity m_product;
};
