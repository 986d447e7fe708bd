// velmor.exe as a build with VELMOR_CONFIG_PUBLIC_KEY set makes it: the same application, taking
// only configurations signed with the tests' key, for the end-to-end tests of signed mode. Its
// retry countdowns count tenths of a second, so the cases that sit through them stay short.
#include <windows.h>

#include "TestLaunchers.h"
#include "TestSigningKey.h"
#include "app/LauncherApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LauncherOptions options;
  options.configPublicKey = TestSigningKey::kPublicHex;
  options.flowSecondMs = kTestLauncherSecondMs;
  CLauncherApp launcher(options);
  return RunApplication(launcher);
}
