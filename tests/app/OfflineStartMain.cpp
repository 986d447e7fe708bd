// velmor.exe as a build with VELMOR_OFFLINE_START on makes it: the same application, with the
// offline start switched on, for the end-to-end tests of that switch.
#include <windows.h>

#include "app/LauncherApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CLauncherApp launcher(true);
  return RunApplication(launcher);
}
