// TLS over one connected event socket through the platform's provider: the handshake, then
// records encrypted on the way out and decrypted into the caller's buffer on the way in. The
// results are the socket's (ENetResult), so the HTTP client reads either the same way.
#pragma once

#include <string>
#include <vector>

#include "net/EventSocket.h"
#include "net/LowSpeedRule.h"
#include "net/SecurityInterface.h"

class CTlsStream {
public:
  // Renegotiations and post-handshake messages (TLS 1.3 session tickets) one connection answers.
  static constexpr int kMaxRenegotiations = 4;
  // Windows Server 2022 (Windows 11 is 22000): from here SChannel takes SCH_CREDENTIALS and
  // speaks TLS 1.3; below it, SCHANNEL_CRED and TLS 1.2.
  static constexpr DWORD kFirstTls13Build = 20348;
  // What LastStatus() says when the peer closed the connection before its close_notify.
  static constexpr SECURITY_STATUS kTruncated = SEC_E_INCOMPLETE_MESSAGE;

  // `sspi` outlives the stream; `systemBuild` chooses the credential structure.
  CTlsStream(CEventSocket& socket, const SecurityFunctionTableA& sspi, DWORD systemBuild);
  CTlsStream(const CTlsStream&) = delete;
  CTlsStream& operator=(const CTlsStream&) = delete;

  // kNetDone once the session is up. Each wait lasts at most `waitMs`, and `pace` must hold
  // throughout, so a server that stalls mid-handshake is given up like one that stalls mid-body.
  // The server's certificate is not checked here (see CheckServerCertificate).
  int Handshake(const char* host, CLowSpeedRule& pace, DWORD waitMs);
  // Encrypts and sends every byte.
  int Send(const void* bytes, int length, DWORD timeoutMs);
  // Decrypted bytes into `buffer`, waiting at most once on the socket, and only when no whole
  // record is buffered: `received` may be 0 while a record is still arriving. After the server's
  // close_notify, 0 with PeerClosed(); a close before it is kNetSocketError (kTruncated).
  int Receive(void* buffer, int capacity, int* received, DWORD timeoutMs);
  bool PeerClosed() const { return m_closed; }
  // Sends close_notify after a normal end; nothing when the session never came up.
  void Shutdown(DWORD timeoutMs);

  // The server's certificate, with the certificates it sent in its store: the caller frees it.
  PCCERT_CONTEXT RemoteCertificate();
  // The provider's status of the last failed step (or kTruncated), SEC_E_OK when none failed.
  SECURITY_STATUS LastStatus() const { return m_status; }

private:
  enum class EDecrypt { kRecord, kNeedMore, kClosed, kRenegotiate, kFailed };

  bool AcquireCredentials();
  int Initialize(SecBufferDesc* input, bool withContext, DWORD timeoutMs);
  int HandshakeStep(DWORD timeoutMs);
  int CompleteHandshake(CLowSpeedRule& pace, DWORD waitMs);
  int ReadPaced(CLowSpeedRule& pace, DWORD waitMs);
  int ReadMore(DWORD timeoutMs);
  EDecrypt DecryptRecord();
  int Renegotiate(DWORD timeoutMs);
  int TakePlain(BYTE* out, int capacity);

  CEventSocket& m_socket;
  const SecurityFunctionTableA& m_sspi;
  DWORD m_systemBuild;
  CSspiCredentials m_credentials;
  CSspiContext m_context;
  std::string m_host;
  SecPkgContext_StreamSizes m_sizes = {};
  SECURITY_STATUS m_status = SEC_E_OK;
  bool m_established = false;
  bool m_closed = false;
  bool m_renegotiate = false;  // asked for by the last record; answered once its data is taken
  int m_renegotiations = 0;
  int m_failure = kNetDone;  // how the session failed, once it has
  // Received bytes not yet decrypted are [m_inStart, m_inEnd) of m_in; a decrypted record's
  // plaintext stays where the provider left it, before m_inStart, until it is handed out.
  std::vector<BYTE> m_in;
  size_t m_inStart = 0;
  size_t m_inEnd = 0;
  BYTE* m_plain = nullptr;
  int m_plainLength = 0;
  std::vector<BYTE> m_out;
};
