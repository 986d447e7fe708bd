// The application singleton: one per process, on the entry point's stack for the whole run.
#pragma once

#include "base/CommandLine.h"

class CAppBase {
public:
  CAppBase();
  CAppBase(const CAppBase&) = delete;
  CAppBase& operator=(const CAppBase&) = delete;
  virtual ~CAppBase();

  virtual bool InitInstance() { return false; }
  virtual int Run();  // message pump; the quit message's wParam
  virtual int ExitInstance() { return 0; }

  // Whole-argument comparison ignoring case; the program path counts as an argument too.
  bool HasSwitch(const char* text) const { return m_commandLine.Has(text); }
  const CCommandLine& CommandLine() const { return m_commandLine; }
  static bool IsMainThread();

private:
  CCommandLine m_commandLine;
};

CAppBase* GetApp();

// The entry point's work: initialise, run the message pump when asked to, exit. Every run ends
// with exit code 0, whether loading succeeded, failed or was declined.
int RunApplication(CAppBase& app);
