#include "net/LowSpeedRule.h"

CLowSpeedRule::CLowSpeedRule(DWORD startTick, DWORD windowMs, int minBytes)
    : m_start(startTick), m_windowMs(windowMs), m_minBytes(minBytes) {}

void CLowSpeedRule::Received(DWORD tick, int count) {
  if (count <= 0) return;
  m_recent.push_back({tick, count});
  m_recentBytes += count;
  while (m_recentBytes - m_recent.front().count >= m_minBytes) {
    m_recentBytes -= m_recent.front().count;
    m_recent.pop_front();
  }
}

DWORD CLowSpeedRule::TimeLeft(DWORD tick) const {
  // Enough bytes in the window: it breaks when the oldest needed receive leaves it. Otherwise
  // it breaks once a whole window has passed since the start.
  DWORD from = m_recentBytes >= m_minBytes ? m_recent.front().tick : m_start;
  DWORD elapsed = tick - from;  // tick arithmetic survives the 49-day wrap
  return elapsed >= m_windowMs ? 0 : m_windowMs - elapsed;
}
