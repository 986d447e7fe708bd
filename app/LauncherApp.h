// The launcher's application object: the start-up sequence and the orderly exit.
#pragma once

#include <windows.h>

#include <string>

#include "app/AppBase.h"

class CLauncherApp : public CAppBase {
public:
  CLauncherApp();

  bool InitInstance() override;  // false on every path: the work is done inside
  int ExitInstance() override;

  const char* ProductName() const { return m_productName; }
  const char* InternalName() const { return m_internalName; }
  const char* CompanyName() const { return m_companyName; }
  std::string Version() const;  // "major.minor.build"

private:
  bool PrepareDataDirectory();
  void ReadVersionResource();

  WORD m_versionMajor = 0;
  WORD m_versionMinor = 0;
  WORD m_versionBuild = 0;
  char m_productName[MAX_PATH];
  char m_internalName[MAX_PATH];
  char m_companyName[MAX_PATH];
};
