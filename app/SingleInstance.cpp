#include "app/SingleInstance.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "BuildConfig.h"
#include "app/LoaderContract.h"
#include "base/ProductDomain.h"
#include "base/TextFormat.h"

namespace {

const char kMutexPrefix[] = "velmor_app:";

}  // namespace

bool CSingleInstance::IsAnotherInstanceRunning() {
  std::string name = kMutexPrefix + ProductWebAddress();
  CKernelHandle mutex(CreateMutexA(nullptr, FALSE, name.c_str()));
  DWORD error = GetLastError();
  // A mutex we may not open exists too: a copy running with other rights (an elevated one) holds it.
  if (error == ERROR_ALREADY_EXISTS || (!mutex.IsValid() && error == ERROR_ACCESS_DENIED)) return true;
  m_mutex = std::move(mutex);
  return false;
}

bool CSingleInstance::MayStart(bool reboot) {
  if (!IsAnotherInstanceRunning()) return true;
  if (!reboot) {
    AskWorkbenchToShow();
    return false;
  }
  DWORD started = GetTickCount();
  while (GetTickCount() - started < kRebootWaitMs) {
    Sleep(kRebootStepMs);
    if (!IsAnotherInstanceRunning()) return true;
  }
  return false;
}

bool AskWorkbenchToShow() {
  char className[MAX_PATH];
  for (HWND window = GetWindow(GetDesktopWindow(), GW_CHILD); window; window = GetWindow(window, GW_HWNDNEXT)) {
    if (!GetClassNameA(window, className, sizeof(className))) continue;
    if (strcmp(className, BuildConfig::kMainWindowClass) != 0) continue;
    UINT message = RegisterWindowMessageA(LoaderContract::kShowWindowMessageName);
    return PostMessageA(window, message, 0, 0) != FALSE;
  }
  return false;
}
