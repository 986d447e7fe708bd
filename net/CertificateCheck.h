// Whether a TLS server's certificate may be trusted for the host we asked for. We check it
// ourselves on every system: the platform's own check differs between them, and Wine's SChannel
// checks nothing.
#pragma once

#include <string>

#include "net/TlsHeaders.h"

class CCertificate {
public:
  explicit CCertificate(PCCERT_CONTEXT context) : m_context(context) {}
  CCertificate(const CCertificate&) = delete;
  CCertificate& operator=(const CCertificate&) = delete;
  ~CCertificate();

  PCCERT_CONTEXT Get() const { return m_context; }

private:
  PCCERT_CONTEXT m_context;
};

// How long building the chain may spend fetching revocation lists, in all.
constexpr DWORD kRevocationWaitMs = 5000;

// S_OK when a chain from `certificate` (with the certificates the server sent, in its store) to
// a root in the machine's store can be built, is valid now and for server authentication, is not
// revoked (an unknown revocation status passes), and names `host`. Else why not:
// CERT_E_CHAINING (no chain up to a root), CERT_E_UNTRUSTEDROOT, CERT_E_EXPIRED (also not yet
// valid), CERT_E_WRONG_USAGE, CRYPT_E_REVOKED, CERT_E_CN_NO_MATCH, or another CERT_E_/TRUST_E_.
HRESULT CheckServerCertificate(PCCERT_CONTEXT certificate, const char* host);

// A host given as an address: no certificate names one that we would match, so TLS refuses it.
bool IsAddressLiteral(const std::string& host);
