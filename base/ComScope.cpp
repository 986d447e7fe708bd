#include "base/ComScope.h"

#include <objbase.h>
#include <ole2.h>

// S_FALSE (already initialised on this thread) counts as success: it must be balanced as well.
COleScope::COleScope() : m_com(SUCCEEDED(CoInitialize(nullptr))), m_ole(SUCCEEDED(OleInitialize(nullptr))) {}

COleScope::~COleScope() {
  if (m_ole) OleUninitialize();
  if (m_com) CoUninitialize();
}
