// The platform's TLS provider (SChannel) as secur32's table of security functions. The TLS stream
// calls nothing else, so a test can hand it a scripted table in the platform's place.
#pragma once

#include "net/TlsHeaders.h"

// secur32's table, from the system directory on first use; null when the system has none.
const SecurityFunctionTableA* PlatformSecurityInterface();
// The running system's build number, from RtlGetVersion, which compatibility modes do not shim.
DWORD SystemBuildNumber();

// An SSPI handle (a TLS client's credentials, or a security context), released once it was made
// through the table that made it, by that table's `Release` function.
template <auto Release>
class CSspiHandle {
public:
  explicit CSspiHandle(const SecurityFunctionTableA& sspi) : m_sspi(sspi) {}
  CSspiHandle(const CSspiHandle&) = delete;
  CSspiHandle& operator=(const CSspiHandle&) = delete;
  ~CSspiHandle() {
    if (m_valid) (m_sspi.*Release)(&m_handle);
  }

  SecHandle* Get() { return &m_handle; }
  void SetValid() { m_valid = true; }

private:
  const SecurityFunctionTableA& m_sspi;
  SecHandle m_handle = {};
  bool m_valid = false;
};
using CSspiCredentials = CSspiHandle<&SecurityFunctionTableA::FreeCredentialsHandle>;
using CSspiContext = CSspiHandle<&SecurityFunctionTableA::DeleteSecurityContext>;

// A buffer the provider allocated for us (ISC_REQ_ALLOCATE_MEMORY), freed through its table.
class CSspiBuffer {
public:
  CSspiBuffer(const SecurityFunctionTableA& sspi, void* buffer) : m_sspi(sspi), m_buffer(buffer) {}
  CSspiBuffer(const CSspiBuffer&) = delete;
  CSspiBuffer& operator=(const CSspiBuffer&) = delete;
  ~CSspiBuffer() {
    if (m_buffer) m_sspi.FreeContextBuffer(m_buffer);
  }

private:
  const SecurityFunctionTableA& m_sspi;
  void* m_buffer;
};
