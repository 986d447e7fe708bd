#include "net/ProxyAuthentication.h"

#include <cstring>

#include "base/Base64.h"
#include "net/HttpResponse.h"

namespace {

struct SchemeName {
  const char* name;
  const char* package;  // the security package, null for Basic
};
const SchemeName kNegotiate = {"Negotiate", "Negotiate"};
const SchemeName kNtlm = {"NTLM", "NTLM"};
const SchemeName kBasic = {"Basic", nullptr};
const char kServicePrefix[] = "HTTP/";

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

// The provider's credentials and context of the scheme in progress, released in that order's
// reverse by their owners.
struct CProxyAuthentication::SecurityState {
  explicit SecurityState(const SecurityFunctionTableA& sspi) : credentials(sspi), context(sspi) {}
  const char* package = nullptr;
  CSspiCredentials credentials;
  CSspiContext context;
  bool contextStarted = false;
  ULONG maxToken = 0;
};

CProxyAuthentication::CProxyAuthentication(const SecurityFunctionTableA* sspi, const ProxyServer& proxy)
    : m_sspi(sspi), m_proxy(proxy) {}

CProxyAuthentication::~CProxyAuthentication() = default;

std::string CProxyAuthentication::Answer(const CByteBuffer& head) {
  if (m_rounds >= kMaxRounds) return "";
  std::vector<Challenge> challenges = ReadChallenges(head);
  std::string answer = m_scheme == EScheme::kNone ? Begin(challenges) : Continue(challenges);
  if (!answer.empty()) ++m_rounds;
  return answer;
}

// Each Proxy-Authenticate header names one scheme, perhaps with a token or parameters after it.
std::vector<CProxyAuthentication::Challenge> CProxyAuthentication::ReadChallenges(const CByteBuffer& head) {
  std::vector<Challenge> challenges;
  for (const auto& [name, value] : ParseResponseHeaders(head)) {
    if (_stricmp(name.c_str(), "Proxy-Authenticate") != 0) continue;
    std::string text = Trimmed(value);
    size_t space = text.find_first_of(" \t");
    std::string scheme = text.substr(0, space);
    std::string rest = space == std::string::npos ? "" : Trimmed(text.substr(space));
    if (_stricmp(scheme.c_str(), kNegotiate.name) == 0) challenges.push_back({EScheme::kNegotiate, rest});
    if (_stricmp(scheme.c_str(), kNtlm.name) == 0) challenges.push_back({EScheme::kNtlm, rest});
    if (_stricmp(scheme.c_str(), kBasic.name) == 0) challenges.push_back({EScheme::kBasic, ""});
  }
  return challenges;
}

// The strongest scheme offered that we can answer: Negotiate, NTLM, then Basic with a stored
// credential only (Basic shows the password to anyone on the way to the proxy).
std::string CProxyAuthentication::Begin(const std::vector<Challenge>& challenges) {
  // Read only once a proxy asks: most requests never hold the password.
  m_stored.ReadForProxy(m_proxy);
  auto offered = [&](EScheme scheme) {
    for (const Challenge& challenge : challenges) {
      if (challenge.scheme == scheme) return true;
    }
    return false;
  };
  for (EScheme scheme : {EScheme::kNegotiate, EScheme::kNtlm}) {
    std::string token;
    if (!offered(scheme) || !StartSecurity(scheme) || !NextToken("", token)) continue;
    m_scheme = scheme;
    return std::string(scheme == EScheme::kNegotiate ? kNegotiate.name : kNtlm.name) + " " + token;
  }
  m_security.reset();
  if (!offered(EScheme::kBasic) || !m_stored.IsHeld()) return "";
  m_scheme = EScheme::kBasic;
  std::string pair = m_stored.User() + ":" + m_stored.Password();
  std::string answer =
      std::string(kBasic.name) + " " + EncodeBase64(reinterpret_cast<const uint8_t*>(pair.data()), pair.size());
  SecureZeroMemory(&pair[0], pair.size());
  return answer;
}

// A second 407 to Basic, or one without a token to a scheme in progress, refuses what we sent.
std::string CProxyAuthentication::Continue(const std::vector<Challenge>& challenges) {
  if (m_scheme == EScheme::kBasic || !m_security) return "";
  for (const Challenge& challenge : challenges) {
    if (challenge.scheme != m_scheme || challenge.token.empty()) continue;
    std::string token;
    if (!NextToken(challenge.token, token)) return "";
    return std::string(m_scheme == EScheme::kNegotiate ? kNegotiate.name : kNtlm.name) + " " + token;
  }
  return "";
}

bool CProxyAuthentication::StartSecurity(EScheme scheme) {
  m_security.reset();
  if (!m_sspi) return false;
  auto state = std::make_unique<SecurityState>(*m_sspi);
  state->package = scheme == EScheme::kNegotiate ? kNegotiate.package : kNtlm.package;
  PSecPkgInfoA info = nullptr;
  if (m_sspi->QuerySecurityPackageInfoA(const_cast<SEC_CHAR*>(state->package), &info) != SEC_E_OK || !info) {
    return false;
  }
  state->maxToken = info->cbMaxToken;
  m_sspi->FreeContextBuffer(info);

  // A stored "DOMAIN\user" is split; other forms go to the provider as they are.
  SEC_WINNT_AUTH_IDENTITY_A identity = {};
  std::string domain, user;
  if (m_stored.IsHeld()) {
    user = m_stored.User();
    size_t slash = user.find('\\');
    if (slash != std::string::npos) {
      domain = user.substr(0, slash);
      user = user.substr(slash + 1);
    }
    identity.User = reinterpret_cast<unsigned char*>(&user[0]);
    identity.UserLength = static_cast<ULONG>(user.size());
    identity.Domain = reinterpret_cast<unsigned char*>(&domain[0]);
    identity.DomainLength = static_cast<ULONG>(domain.size());
    identity.Password = reinterpret_cast<unsigned char*>(const_cast<char*>(m_stored.Password().c_str()));
    identity.PasswordLength = static_cast<ULONG>(m_stored.Password().size());
    identity.Flags = SEC_WINNT_AUTH_IDENTITY_ANSI;
  }
  TimeStamp expiry;
  SECURITY_STATUS status = m_sspi->AcquireCredentialsHandleA(
      nullptr, const_cast<SEC_CHAR*>(state->package), SECPKG_CRED_OUTBOUND, nullptr,
      m_stored.IsHeld() ? &identity : nullptr, nullptr, nullptr, state->credentials.Get(), &expiry);
  if (status != SEC_E_OK) return false;
  state->credentials.SetValid();
  m_security = std::move(state);
  return true;
}

// The provider's next token, in base64, for the proxy's `challenge` (base64, empty at first).
bool CProxyAuthentication::NextToken(const std::string& challenge, std::string& token) {
  SecurityState& state = *m_security;
  std::vector<uint8_t> input;
  if (!DecodeBase64(challenge, input)) return false;
  std::vector<uint8_t> output(state.maxToken);
  SecBuffer inBuffer = {static_cast<ULONG>(input.size()), SECBUFFER_TOKEN, input.data()};
  SecBufferDesc inDesc = {SECBUFFER_VERSION, 1, &inBuffer};
  SecBuffer outBuffer = {static_cast<ULONG>(output.size()), SECBUFFER_TOKEN, output.data()};
  SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &outBuffer};
  std::string target = kServicePrefix + m_proxy.host;
  ULONG attributes = 0;
  TimeStamp expiry;
  SECURITY_STATUS status = m_sspi->InitializeSecurityContextA(
      state.credentials.Get(), state.contextStarted ? state.context.Get() : nullptr, &target[0], ISC_REQ_CONNECTION, 0,
      SECURITY_NATIVE_DREP, state.contextStarted ? &inDesc : nullptr, 0, state.context.Get(), &outDesc, &attributes,
      &expiry);
  if (status == SEC_I_COMPLETE_NEEDED || status == SEC_I_COMPLETE_AND_CONTINUE) {
    status = m_sspi->CompleteAuthToken(state.context.Get(), &outDesc) == SEC_E_OK ? SEC_E_OK : SEC_E_INTERNAL_ERROR;
  }
  if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return false;
  state.contextStarted = true;
  state.context.SetValid();
  if (outBuffer.cbBuffer == 0) return false;
  token = EncodeBase64(output.data(), outBuffer.cbBuffer);
  return true;
}
