#include <gtest/gtest.h>

#include <objbase.h>

#include <thread>

#include "base/ComScope.h"

namespace {

// How CoInitializeEx answers on a thread, undoing its own call: S_OK on a thread without COM,
// S_FALSE when COM is set up in that model, RPC_E_CHANGED_MODE when in the other.
HRESULT ProbeApartment(DWORD model) {
  HRESULT result = CoInitializeEx(nullptr, model);
  if (SUCCEEDED(result)) CoUninitialize();
  return result;
}

// Runs `body` on a fresh thread: each case starts from a thread without COM.
template <typename Body>
void OnFreshThread(Body body) {
  std::thread thread(body);
  thread.join();
}

}  // namespace

TEST(OleScope, UndoesExactlyWhatItDid) {
  struct Case {
    const char* name;
    int callerModel;  // -1: the caller set up nothing
    bool comReady;
    bool oleReady;
    HRESULT afterwards;  // ProbeApartment(apartment-threaded) once the scope and the caller are done
  };
  // A multithreaded caller refuses both: the scope must not take the caller's COM away.
  const Case cases[] = {
      {"bare thread", -1, true, true, S_OK},
      {"caller in the same apartment model", COINIT_APARTMENTTHREADED, true, true, S_OK},
      {"caller multithreaded", COINIT_MULTITHREADED, false, false, S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnFreshThread([&c] {
      if (c.callerModel >= 0) {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, c.callerModel)));
      }
      {
        COleScope scope;
        EXPECT_EQ(c.comReady, scope.ComReady());
        EXPECT_EQ(c.oleReady, scope.OleReady());
        EXPECT_EQ(c.callerModel == COINIT_MULTITHREADED ? RPC_E_CHANGED_MODE : S_FALSE,
                  ProbeApartment(COINIT_APARTMENTTHREADED));
      }
      // The caller's own set-up is still there until it undoes it.
      if (c.callerModel >= 0) {
        EXPECT_EQ(S_FALSE, ProbeApartment(c.callerModel));
        CoUninitialize();
      }
      EXPECT_EQ(c.afterwards, ProbeApartment(COINIT_APARTMENTTHREADED));
    });
  }
}
