// The connection of one request: a TCP connection (to the server or to the proxy) and, for
// https, the TLS session over it. The HTTP client sends and receives through it alike.
#pragma once

#include <memory>

#include "net/EventSocket.h"
#include "net/TlsStream.h"

class CConnection {
public:
  CConnection() = default;
  CConnection(const CConnection&) = delete;
  CConnection& operator=(const CConnection&) = delete;

  CEventSocket& Socket() { return m_socket; }

  // The handshake for `host`, then the check of the server's certificate; from here on, the
  // bytes go through TLS. False with TlsError() saying why.
  bool StartTls(const char* host, DWORD waitMs, DWORD paceWindowMs);
  int Send(const void* bytes, int length, DWORD timeoutMs);
  int Receive(void* buffer, int capacity, int* received, DWORD timeoutMs);
  bool PeerClosed() const { return m_tls ? m_tls->PeerClosed() : m_socket.PeerClosed(); }
  // After a normal end: the close_notify, so the server sees a complete session.
  void Finish(DWORD timeoutMs);
  // The provider's or the certificate check's reason the session failed, S_OK when none did.
  HRESULT TlsError() const { return m_tlsError; }

private:
  CEventSocket m_socket;
  std::unique_ptr<CTlsStream> m_tls;  // declared after the socket: it goes first
  HRESULT m_tlsError = S_OK;
};
