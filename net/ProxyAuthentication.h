// The answers one request gives an authenticating proxy's 407s. Negotiate, then NTLM, through the
// platform's security provider: with the credentials the Credential Manager holds for this proxy
// (CStoredCredential), else with the logged-on user's, as browsers do. Basic only with stored
// ones. The client asks this only for a proxy's 407, never for an origin server's answer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/ByteBuffer.h"
#include "net/ProxyChoice.h"
#include "net/SecurityInterface.h"
#include "net/StoredCredential.h"

class CProxyAuthentication {
public:
  // Answers per request: NTLM needs two, a proxy still asking after three is refusing us.
  static constexpr int kMaxRounds = 3;

  // `sspi` may be null (no provider): then only Basic can be answered.
  CProxyAuthentication(const SecurityFunctionTableA* sspi, const ProxyServer& proxy);
  CProxyAuthentication(const CProxyAuthentication&) = delete;
  CProxyAuthentication& operator=(const CProxyAuthentication&) = delete;
  ~CProxyAuthentication();

  // The Proxy-Authorization value answering the 407 whose head is `head`; "" when there is none:
  // no scheme offered that we can answer, the rounds used up, the proxy refused what we sent, or
  // the provider failed. Negotiate and NTLM are bound to the connection their 407 came on.
  std::string Answer(const CByteBuffer& head);

private:
  enum class EScheme { kNone, kNegotiate, kNtlm, kBasic };
  struct Challenge {
    EScheme scheme;
    std::string token;  // the base64 after a Negotiate or NTLM scheme name
  };
  struct SecurityState;

  static std::vector<Challenge> ReadChallenges(const CByteBuffer& head);
  std::string Begin(const std::vector<Challenge>& challenges);
  std::string Continue(const std::vector<Challenge>& challenges);
  bool StartSecurity(EScheme scheme);
  bool NextToken(const std::string& challenge, std::string& token);

  const SecurityFunctionTableA* m_sspi;
  ProxyServer m_proxy;
  CStoredCredential m_stored;
  EScheme m_scheme = EScheme::kNone;
  int m_rounds = 0;
  std::unique_ptr<SecurityState> m_security;
};
