// velmor.exe as a build with VELMOR_SYSTEM_PROXY makes it, with the test launchers' short
// countdowns; velmor_office_https also as one with VELMOR_HTTPS and the tests' key.
#include <windows.h>

#include "TestLaunchers.h"
#include "TestSigningKey.h"
#include "app/LauncherApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LauncherOptions options;
  options.systemProxy = true;
  options.flowSecondMs = kTestLauncherSecondMs;
#ifdef VELMOR_TEST_HTTPS
  options.https = true;
  options.configPublicKey = TestSigningKey::kPublicHex;
#endif
  CLauncherApp launcher(options);
  return RunApplication(launcher);
}
