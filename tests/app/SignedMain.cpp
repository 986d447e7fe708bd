// velmor.exe as a build with VELMOR_CONFIG_PUBLIC_KEY set makes it: the same application, taking
// only configurations signed with the tests' key, for the end-to-end tests of signed mode.
#include <windows.h>

#include "TestSigningKey.h"
#include "app/LauncherApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CLauncherApp launcher(BuildConfig::kOfflineStart, TestSigningKey::kPublicHex);
  return RunApplication(launcher);
}
