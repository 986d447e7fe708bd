// The setup actions of the "/config" and "/u" starts, and the first-run question.
#pragma once

#include "app/ProductIdentity.h"
#include "data/UninstallInfo.h"

class CSetupActions {
public:
  explicit CSetupActions(const ProductIdentity& product);

  void RunSetupSwitches() const;     // "/config": the ten switches, then the setup marker
  void AskAddUninstallInfo() const;  // on normal starts until the question is settled
  // "/u": the uninstall information first (through the elevated relaunch when this process may
  // not remove it), then the shortcuts, the data when the user wants, and this executable. The
  // first step that fails ends it with a failure message; success is told only when all went.
  void Uninstall() const;

private:
  void WriteUninstallInfo() const;
  CUninstallInfo UninstallInfoKey() const;
  bool RemoveUninstallInfoWithRights() const;

  const ProductIdentity& m_product;
};

// Writes and starts the batch file that deletes `exePath` once this process has ended. It tries
// about once a second and gives up after `maxTries`; then, or once the file is gone, it deletes
// itself.
constexpr int kSelfDeleteTries = 60;
bool DeleteSelf(const char* exePath, int maxTries = kSelfDeleteTries);
