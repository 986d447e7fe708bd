// The setup actions of the "/config" and "/u" starts, and the first-run question.
#pragma once

class CLauncherApp;

class CSetupActions {
public:
  explicit CSetupActions(const CLauncherApp& app);

  void RunSetupSwitches() const;     // "/config": the ten switches, then the setup marker
  void AskAddUninstallInfo() const;  // on normal starts until the question is settled
  void Uninstall() const;            // "/u"

private:
  void WriteUninstallInfo() const;
  void RemoveUninstallInfo() const;

  const CLauncherApp& m_app;
};

// Writes and starts the batch file that deletes `exePath` once this process has ended.
bool DeleteSelf(const char* exePath);
