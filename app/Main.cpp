#include <windows.h>

#include "app/LauncherApp.h"

// Every run ends with exit code 0, whether loading succeeded, failed or was declined.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  CLauncherApp launcher;
  CAppBase* app = GetApp();
  if (app->InitInstance()) app->Run();
  app->ExitInstance();
  return 0;
}
