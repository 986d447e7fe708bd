#include "net/Connection.h"

#include "net/CertificateCheck.h"
#include "net/SecurityInterface.h"

namespace {

// Why a handshake ended early: the provider's failure, else the transport's.
HRESULT HandshakeError(int result, SECURITY_STATUS status) {
  if (FAILED(status)) return status;
  if (result == kNetTimeout) return HRESULT_FROM_WIN32(WSAETIMEDOUT);
  if (result == kNetAborted) return E_ABORT;
  return HRESULT_FROM_WIN32(WSAECONNRESET);
}

}  // namespace

bool CConnection::StartTls(const char* host, DWORD waitMs, DWORD paceWindowMs) {
  const SecurityFunctionTableA* sspi = PlatformSecurityInterface();
  if (!sspi) {
    m_tlsError = SEC_E_SECPKG_NOT_FOUND;
    return false;
  }
  m_tls.reset(new CTlsStream(m_socket, *sspi, SystemBuildNumber()));
  CLowSpeedRule pace(GetTickCount(), paceWindowMs);
  int result = m_tls->Handshake(host, pace, waitMs);
  if (result != kNetDone) {
    m_tlsError = HandshakeError(result, m_tls->LastStatus());
    return false;
  }
  CCertificate certificate(m_tls->RemoteCertificate());
  m_tlsError = certificate.Get() ? CheckServerCertificate(certificate.Get(), host) : SEC_E_NO_CREDENTIALS;
  return m_tlsError == S_OK;
}

int CConnection::Send(const void* bytes, int length, DWORD timeoutMs) {
  if (m_tls) return m_tls->Send(bytes, length, timeoutMs);
  return m_socket.Send(bytes, length, nullptr, timeoutMs);
}

int CConnection::Receive(void* buffer, int capacity, int* received, DWORD timeoutMs) {
  if (!m_tls) return m_socket.Receive(buffer, capacity, received, timeoutMs);
  int result = m_tls->Receive(buffer, capacity, received, timeoutMs);
  if (result == kNetSocketError && FAILED(m_tls->LastStatus())) m_tlsError = m_tls->LastStatus();
  return result;
}

void CConnection::Finish(DWORD timeoutMs) {
  if (m_tls) m_tls->Shutdown(timeoutMs);
}
