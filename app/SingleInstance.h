// One launcher at a time: a named mutex marks the running one. A second start asks the running
// workbench to come to the front and leaves; with "/reboot" it waits for the first to exit.
#pragma once

#include "base/ScopedHandle.h"

class CSingleInstance {
public:
  static constexpr DWORD kRebootStepMs = 500;
  static constexpr DWORD kRebootWaitMs = 10000;

  // Creates the mutex; when no other launcher holds it, keeps it for the life of this object.
  bool IsAnotherInstanceRunning();
  // The start-up rule: true when this start may go on.
  bool MayStart(bool reboot);

private:
  CKernelHandle m_mutex;
};

// Posts "get_show_window_msg" to the top-level workbench window; false when there is none.
bool AskWorkbenchToShow();
