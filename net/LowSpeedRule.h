// A request must keep receiving: fewer than `minBytes` in any `windowMs` window fails it. The
// per-wait time-out alone lets a server send one byte every 25 s for ever.
#pragma once

#include <windows.h>

#include <deque>

class CLowSpeedRule {
public:
  static constexpr int kMinBytes = 1024;
  static constexpr DWORD kWindowMs = 60000;

  CLowSpeedRule(DWORD startTick, DWORD windowMs = kWindowMs, int minBytes = kMinBytes);

  void Received(DWORD tick, int count);
  // How long the next wait may last before the rule is broken (0: it is broken now).
  DWORD TimeLeft(DWORD tick) const;

private:
  struct Sample {
    DWORD tick;
    int count;
  };

  DWORD m_start;
  DWORD m_windowMs;
  int m_minBytes;
  // The latest receives, only as many as it takes to reach minBytes: the oldest one leaving the
  // window is when the rule would break.
  std::deque<Sample> m_recent;
  long long m_recentBytes = 0;
};
