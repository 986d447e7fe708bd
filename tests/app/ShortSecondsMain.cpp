// velmor.exe as the shipped build makes it, but with retry countdowns that count tenths of a
// second: for the end-to-end cases that sit through a whole round of retries. One case keeps the
// shipped velmor.exe and its real 3, 5 and 8 s.
#include <windows.h>

#include "TestLaunchers.h"
#include "app/LauncherApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LauncherOptions options;
  options.flowSecondMs = kTestLauncherSecondMs;
  CLauncherApp launcher(options);
  return RunApplication(launcher);
}
