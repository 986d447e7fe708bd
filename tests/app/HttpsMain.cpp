// velmor.exe as a build with VELMOR_HTTPS and VELMOR_CONFIG_PUBLIC_KEY (the tests' key) makes it:
// the configuration and the package over https only, signed, with the test launchers' short
// countdowns.
#include <windows.h>

#include "TestLaunchers.h"
#include "TestSigningKey.h"
#include "app/LauncherApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LauncherOptions options;
  options.https = true;
  options.configPublicKey = TestSigningKey::kPublicHex;
  options.flowSecondMs = kTestLauncherSecondMs;
  CLauncherApp launcher(options);
  return RunApplication(launcher);
}
