// The launcher's application object: the start-up sequence and the orderly exit.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "BuildConfig.h"
#include "app/AppBase.h"
#include "app/ModuleLoader.h"
#include "app/SingleInstance.h"
#include "base/ComScope.h"

class CLauncherApp : public CAppBase {
public:
  // `offlineStart`: start with the cached configuration when the server cannot be reached.
  // `configPublicKey`: only configurations signed for it count (empty: unsigned).
  explicit CLauncherApp(bool offlineStart = BuildConfig::kOfflineStart,
                        const char* configPublicKey = BuildConfig::kConfigPublicKey);

  bool InitInstance() override;  // false on every path: the work is done inside
  int ExitInstance() override;

  const char* ProductName() const { return m_productName; }
  const char* InternalName() const { return m_internalName; }
  const char* CompanyName() const { return m_companyName; }
  std::string Version() const;  // "major.minor.build"

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

  bool m_offlineStart;
  const char* m_configPublicKey;
  WORD m_versionMajor = 0;
  WORD m_versionMinor = 0;
  WORD m_versionBuild = 0;
  char m_productName[MAX_PATH];
  char m_internalName[MAX_PATH];
  char m_companyName[MAX_PATH];
};
