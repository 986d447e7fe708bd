// velmor.exe as the shipped build makes it, but with retry countdowns that count tenths of a
// second: for the end-to-end cases that sit through a whole round of retries. One case keeps the
// shipped velmor.exe and its real 3, 5 and 8 s. With VELMOR_TEST_END_IN_WRITE naming a file
// ("loader.dll"), the process ends as a power cut would, halfway through writing that file.
#include <windows.h>

#include <string>

#include "TestLaunchers.h"
#include "app/LauncherApp.h"
#include "base/FileUtil.h"

namespace {

std::string g_endInWrite;  // the partial file's name ending, "\\loader.dll.partial"

void EndInWrite(const char* partialPath) {
  std::string path = partialPath;
  if (path.size() >= g_endInWrite.size() &&
      path.compare(path.size() - g_endInWrite.size(), std::string::npos, g_endInWrite) == 0) {
    TerminateProcess(GetCurrentProcess(), kEndedInWriteExitCode);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char name[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("VELMOR_TEST_END_IN_WRITE", name, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    g_endInWrite = PartialFileOf((std::string("\\") + name).c_str());
    SetPartialWriteHook(EndInWrite);
  }
  LauncherOptions options;
  options.flowSecondMs = kTestLauncherSecondMs;
  CLauncherApp launcher(options);
  return RunApplication(launcher);
}
