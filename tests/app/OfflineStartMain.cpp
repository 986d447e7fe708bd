// velmor.exe as a build with VELMOR_OFFLINE_START on makes it: the same application, with the
// offline start switched on, for the end-to-end tests of that switch. Its retry countdowns count
// tenths of a second, so the cases that sit through them stay short.
#include <windows.h>

#include "TestLaunchers.h"
#include "app/LauncherApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LauncherOptions options;
  options.offlineStart = true;
  options.flowSecondMs = kTestLauncherSecondMs;
  CLauncherApp launcher(options);
  return RunApplication(launcher);
}
