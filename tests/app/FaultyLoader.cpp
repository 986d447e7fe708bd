// A loader library whose fault is chosen at run time by VELMOR_TEST_FAULT, so one library covers
// every answer the launcher must tell apart. What its entries saw goes back into the process's
// environment, where the test reads it.
#include <windows.h>

#include <cstring>

#include "app/LoaderContract.h"

namespace {

bool FaultIs(const char* name) {
  char fault[32] = {};
  GetEnvironmentVariableA("VELMOR_TEST_FAULT", fault, sizeof(fault));
  return strcmp(fault, name) == 0;
}

BOOL WINAPI ConfigureData(const char* dataDirectory) {
  SetEnvironmentVariableA("VELMOR_TEST_FAULT_DATA", dataDirectory);
  return FaultIs("data_false") ? FALSE : TRUE;
}

BOOL WINAPI Start() {
  SetEnvironmentVariableA("VELMOR_TEST_FAULT_STARTED", "1");
  return TRUE;
}

BOOL Answer(void** slot, void* entry, const char* failFault, const char* nullFault) {
  if (FaultIs(failFault)) return FALSE;
  if (!FaultIs(nullFault)) *slot = entry;
  return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI QueryInterface(const GUID* iid, void** slot) {
  if (IsEqualGUID(*iid, LoaderContract::kStartEntryId)) {
    // Non-zero, yet false for a caller that reads the low byte only, as the contract says.
    if (FaultIs("start_high_byte")) {
      *slot = reinterpret_cast<void*>(&Start);
      return 0x100;
    }
    return Answer(slot, reinterpret_cast<void*>(&Start), "start_fails", "start_null");
  }
  if (IsEqualGUID(*iid, LoaderContract::kDataConfigEntryId)) {
    return Answer(slot, reinterpret_cast<void*>(&ConfigureData), "data_fails", "data_null");
  }
  return FALSE;
}
