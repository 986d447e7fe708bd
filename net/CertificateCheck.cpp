#include "net/CertificateCheck.h"

#include "base/SystemLibrary.h"

namespace {

// crypt32 is no KnownDLL: it is looked up in the system directory, like the other such libraries.
struct Crypt32 {
  decltype(&CertGetCertificateChain) getChain;
  decltype(&CertVerifyCertificateChainPolicy) verifyPolicy;
  decltype(&CertFreeCertificateChain) freeChain;
  decltype(&CertFreeCertificateContext) freeContext;
};

const Crypt32* Crypt32Functions() {
  static const Crypt32 functions = {
      SystemFunction<decltype(&CertGetCertificateChain)>("crypt32.dll", "CertGetCertificateChain"),
      SystemFunction<decltype(&CertVerifyCertificateChainPolicy)>("crypt32.dll", "CertVerifyCertificateChainPolicy"),
      SystemFunction<decltype(&CertFreeCertificateChain)>("crypt32.dll", "CertFreeCertificateChain"),
      SystemFunction<decltype(&CertFreeCertificateContext)>("crypt32.dll", "CertFreeCertificateContext")};
  bool complete = functions.getChain && functions.verifyPolicy && functions.freeChain && functions.freeContext;
  return complete ? &functions : nullptr;
}

class CChain {
public:
  CChain(const Crypt32& crypt32, PCCERT_CHAIN_CONTEXT chain) : m_crypt32(crypt32), m_chain(chain) {}
  CChain(const CChain&) = delete;
  CChain& operator=(const CChain&) = delete;
  ~CChain() { m_crypt32.freeChain(m_chain); }

private:
  const Crypt32& m_crypt32;
  PCCERT_CHAIN_CONTEXT m_chain;
};

// The chain's own verdict. Wine's SSL policy passes a chain that ends at an untrusted root (it
// only flags it here), so this is read first, on every system alike.
HRESULT TrustStatusError(DWORD status) {
  constexpr DWORD kUnknownRevocation = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
  DWORD errors = status & ~kUnknownRevocation;
  if (errors == CERT_TRUST_NO_ERROR) return S_OK;
  if (errors & CERT_TRUST_IS_REVOKED) return CRYPT_E_REVOKED;
  if (errors & CERT_TRUST_IS_NOT_TIME_VALID) return CERT_E_EXPIRED;
  if (errors & CERT_TRUST_IS_PARTIAL_CHAIN) return CERT_E_CHAINING;
  if (errors & CERT_TRUST_IS_UNTRUSTED_ROOT) return CERT_E_UNTRUSTEDROOT;
  if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return CERT_E_WRONG_USAGE;
  if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return TRUST_E_CERT_SIGNATURE;
  return TRUST_E_FAIL;
}

// SECURITY_FLAG_IGNORE_REVOCATION of <wininet.h>: the chain's status has answered for revocation
// already (revoked fails, unknown passes); the policy would fail an unknown status (Wine's does).
constexpr DWORD kPolicyIgnoresRevocation = 0x00000080;

HRESULT SslPolicyError(const Crypt32& crypt32, PCCERT_CHAIN_CONTEXT chain, const char* host) {
  std::wstring name;
  for (const char* c = host; *c; ++c) name += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
  ssl.cbSize = sizeof(ssl);
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = kPolicyIgnoresRevocation;
  ssl.pwszServerName = &name[0];
  CERT_CHAIN_POLICY_PARA policy = {};
  policy.cbSize = sizeof(policy);
  policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof(status);
  if (!crypt32.verifyPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) return TRUST_E_FAIL;
  return static_cast<HRESULT>(status.dwError);
}

}  // namespace

CCertificate::~CCertificate() {
  const Crypt32* crypt32 = Crypt32Functions();
  if (m_context && crypt32) crypt32->freeContext(m_context);
}

HRESULT CheckServerCertificate(PCCERT_CONTEXT certificate, const char* host) {
  const Crypt32* crypt32 = Crypt32Functions();
  if (!crypt32 || !certificate || !host || !*host) return TRUST_E_FAIL;
  LPSTR serverAuth[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA parameters = {};
  parameters.cbSize = sizeof(parameters);
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = serverAuth;
  parameters.dwUrlRetrievalTimeout = kRevocationWaitMs;
  constexpr DWORD kFlags = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!crypt32->getChain(nullptr, certificate, nullptr, certificate->hCertStore, &parameters, kFlags, nullptr,
                         &chain) ||
      !chain) {
    return CERT_E_CHAINING;
  }
  CChain owner(*crypt32, chain);
  HRESULT trust = TrustStatusError(chain->TrustStatus.dwErrorStatus);
  return trust != S_OK ? trust : SslPolicyError(*crypt32, chain, host);
}

bool IsAddressLiteral(const std::string& host) {
  if (host.find(':') != std::string::npos) return true;  // IPv6, with or without its brackets
  // Digits and dots, or whatever else the platform takes for an address (such as "0x7f.1").
  if (!host.empty() && host.find_first_not_of("0123456789.") == std::string::npos) return true;
  return inet_addr(host.c_str()) != INADDR_NONE;
}
