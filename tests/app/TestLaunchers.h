// What the test builds of velmor.exe (velmor_offline_start, velmor_signed) share.
#pragma once

#include <windows.h>

// One second of their retry countdowns: long enough for the bar to show each text, and the cases
// that sit through a whole round of retries take a second or two instead of twenty.
constexpr DWORD kTestLauncherSecondMs = 100;
// The exit code of a launcher ended halfway through a write (VELMOR_TEST_END_IN_WRITE).
constexpr UINT kEndedInWriteExitCode = 77;
