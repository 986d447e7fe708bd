#include "app/AppBase.h"

#include <windows.h>

#include "base/MainThread.h"
#include "base/SystemLibrary.h"

namespace {
CAppBase* g_app = nullptr;
}

CAppBase::CAppBase() {
  RestrictDllSearch();  // before anything of ours loads a library
  g_app = this;
  RecordMainThread();
}

CAppBase::~CAppBase() {
  if (g_app == this) g_app = nullptr;
}

int CAppBase::Run() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

bool CAppBase::IsMainThread() { return ::IsMainThread(); }

CAppBase* GetApp() { return g_app; }

int RunApplication(CAppBase& app) {
  if (app.InitInstance()) app.Run();
  app.ExitInstance();
  return 0;
}
