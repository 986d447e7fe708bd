// The platform's TLS provider (SChannel) as secur32's table of security functions. The TLS stream
// calls nothing else, so a test can hand it a scripted table in the platform's place.
#pragma once

#include "net/TlsHeaders.h"

// secur32's table, from the system directory on first use; null when the system has none.
const SecurityFunctionTableA* PlatformSecurityInterface();
// The running system's build number, from RtlGetVersion, which compatibility modes do not shim.
DWORD SystemBuildNumber();

// Credentials of one TLS client, released through the table that acquired them.
class CSspiCredentials {
public:
  explicit CSspiCredentials(const SecurityFunctionTableA& sspi) : m_sspi(sspi) {}
  CSspiCredentials(const CSspiCredentials&) = delete;
  CSspiCredentials& operator=(const CSspiCredentials&) = delete;
  ~CSspiCredentials();

  CredHandle* Get() { return &m_handle; }
  void SetValid() { m_valid = true; }

private:
  const SecurityFunctionTableA& m_sspi;
  CredHandle m_handle = {};
  bool m_valid = false;
};

// One security context (a TLS session), deleted through the table that made it.
class CSspiContext {
public:
  explicit CSspiContext(const SecurityFunctionTableA& sspi) : m_sspi(sspi) {}
  CSspiContext(const CSspiContext&) = delete;
  CSspiContext& operator=(const CSspiContext&) = delete;
  ~CSspiContext();

  CtxtHandle* Get() { return &m_handle; }
  bool IsValid() const { return m_valid; }
  void SetValid() { m_valid = true; }

private:
  const SecurityFunctionTableA& m_sspi;
  CtxtHandle m_handle = {};
  bool m_valid = false;
};

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
