#include <windows.h>

#include "app/LauncherApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CLauncherApp launcher;
  return RunApplication(launcher);
}
