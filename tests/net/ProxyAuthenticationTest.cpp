// The answers to a proxy's 407s against a scripted security provider, for what Wine cannot show:
// Negotiate, the logged-on user's credentials, and a provider that keeps asking. Credentials are
// stored in the Credential Manager of the test's Wine prefix, as cmdkey stores them.
#include <gtest/gtest.h>

#include <windows.h>

#include <wincred.h>

#include <string>
#include <vector>

#include "base/Base64.h"
#include "net/ProxyAuthentication.h"

namespace {

const ProxyServer kProxy = {"proxy.test", 8080};
const char kTarget[] = "velmor-proxy:proxy.test:8080";

// What the provider saw; its tokens are text: "hello:<package>" first, then "answer:<challenge>".
struct Script {
  bool refuseCredentials = false;
  std::string package;
  bool identityGiven = false;
  std::string user, domain, password, target;
  int contexts = 0;
} g_script;

std::string B64(const std::string& text) {
  return EncodeBase64(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

SECURITY_STATUS SEC_ENTRY QueryPackage(SEC_CHAR*, PSecPkgInfoA* info) {
  static SecPkgInfoA package = {};
  package.cbMaxToken = 256;
  *info = &package;
  return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY FreeBuffer(void*) { return SEC_E_OK; }

SECURITY_STATUS SEC_ENTRY Acquire(SEC_CHAR*, SEC_CHAR* package, ULONG, void*, void* authData, SEC_GET_KEY_FN, void*,
                                  PCredHandle handle, PTimeStamp) {
  if (g_script.refuseCredentials) return SEC_E_NO_CREDENTIALS;
  g_script.package = package;
  g_script.identityGiven = authData != nullptr;
  if (authData) {
    auto* identity = static_cast<SEC_WINNT_AUTH_IDENTITY_A*>(authData);
    g_script.user.assign(reinterpret_cast<char*>(identity->User), identity->UserLength);
    g_script.domain.assign(reinterpret_cast<char*>(identity->Domain), identity->DomainLength);
    g_script.password.assign(reinterpret_cast<char*>(identity->Password), identity->PasswordLength);
  }
  handle->dwLower = handle->dwUpper = 1;
  return SEC_E_OK;
}

SECURITY_STATUS SEC_ENTRY FreeCredentials(PCredHandle) { return SEC_E_OK; }

SECURITY_STATUS SEC_ENTRY Initialize(PCredHandle, PCtxtHandle context, SEC_CHAR* target, ULONG, ULONG, ULONG,
                                     PSecBufferDesc input, ULONG, PCtxtHandle newContext, PSecBufferDesc output, ULONG*,
                                     PTimeStamp) {
  g_script.target = target;
  std::string token = "hello:" + g_script.package;
  if (context) {
    const SecBuffer& in = input->pBuffers[0];
    token = "answer:" + std::string(static_cast<char*>(in.pvBuffer), in.cbBuffer);
  } else {
    ++g_script.contexts;
  }
  memcpy(output->pBuffers[0].pvBuffer, token.data(), token.size());
  output->pBuffers[0].cbBuffer = static_cast<ULONG>(token.size());
  newContext->dwLower = newContext->dwUpper = 2;
  return SEC_I_CONTINUE_NEEDED;  // a provider that never settles: the round bound must
}

SECURITY_STATUS SEC_ENTRY DeleteContext(PCtxtHandle) { return SEC_E_OK; }

SecurityFunctionTableA ScriptedProvider() {
  SecurityFunctionTableA table = {};
  table.QuerySecurityPackageInfoA = QueryPackage;
  table.FreeContextBuffer = FreeBuffer;
  table.AcquireCredentialsHandleA = Acquire;
  table.FreeCredentialsHandle = FreeCredentials;
  table.InitializeSecurityContextA = Initialize;
  table.DeleteSecurityContext = DeleteContext;
  return table;
}

CByteBuffer ProxyAnswer(const std::vector<std::string>& challenges) {
  std::string head = "HTTP/1.1 407 Proxy Authentication Required\r\n";
  for (const std::string& challenge : challenges) head += "Proxy-Authenticate: " + challenge + "\r\n";
  head += "Content-Length: 0\r\n\r\n";
  return CByteBuffer(head.data(), static_cast<int>(head.size()));
}

// A generic credential as "cmdkey /generic:... /user:... /pass:..." stores it (UTF-16 password).
void StoreCredential(const char* user, const std::wstring& password) {
  CREDENTIALA credential = {};
  credential.Type = CRED_TYPE_GENERIC;
  credential.TargetName = const_cast<char*>(kTarget);
  credential.UserName = const_cast<char*>(user);
  credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(password.data()));
  credential.CredentialBlobSize = static_cast<DWORD>(password.size() * sizeof(wchar_t));
  credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
  ASSERT_TRUE(CredWriteA(&credential, 0)) << GetLastError();
}

}  // namespace

TEST(ProxyAuthentication, AnswersWhatTheProxyOffersWithinThreeRounds) {
  struct Round {
    std::vector<std::string> offered;  // the 407's Proxy-Authenticate values
    std::string answer;                // expected Proxy-Authorization, "" for none
  };
  struct Row {
    const char* name;
    const char* storedUser;  // a credential stored for the proxy, or none
    bool providerRefuses;    // no credentials to be had (no logon, as under Wine)
    std::vector<Round> rounds;
    const char* package;  // the security package used, "" for none
  };
  const std::string hello = "NTLM " + B64("hello:NTLM");
  // Stored as UTF-16, answered in the ANSI code page (936 holds U+00E9 as two bytes).
  const std::wstring password = L"pa\x00e9ss";
  char ansiPassword[16] = {};
  WideCharToMultiByte(CP_ACP, 0, password.c_str(), -1, ansiPassword, sizeof(ansiPassword), nullptr, nullptr);
  const Row rows[] = {
      {"NTLM with the logged-on user",
       nullptr,
       false,
       {{{"NTLM"}, hello}, {{"NTLM " + B64("c1")}, "NTLM " + B64("answer:c1")}},
       "NTLM"},
      {"Negotiate preferred to NTLM and Basic",
       nullptr,
       false,
       {{{"Basic realm=\"office\"", "NTLM", "Negotiate"}, "Negotiate " + B64("hello:Negotiate")},
        {{"Negotiate " + B64("c1")}, "Negotiate " + B64("answer:c1")}},
       "Negotiate"},
      {"NTLM with a stored DOMAIN\\user", "CORP\\agent", false, {{{"NTLM"}, hello}}, "NTLM"},
      {"a 407 without a token after ours is a refusal",
       nullptr,
       false,
       {{{"NTLM"}, hello}, {{"NTLM " + B64("c1")}, "NTLM " + B64("answer:c1")}, {{"NTLM"}, ""}},
       "NTLM"},
      {"a proxy still asking after three rounds is refused",
       nullptr,
       false,
       {{{"NTLM"}, hello},
        {{"NTLM " + B64("c1")}, "NTLM " + B64("answer:c1")},
        {{"NTLM " + B64("c2")}, "NTLM " + B64("answer:c2")},
        {{"NTLM " + B64("c3")}, ""}},
       "NTLM"},
      {"Basic without a stored credential", nullptr, false, {{{"Basic realm=\"office\""}, ""}}, ""},
      {"Basic with a stored one, then refused",
       "agent",
       true,
       {{{"NTLM", "Basic realm=\"office\""}, "Basic " + B64(std::string("agent:") + ansiPassword)},
        {{"Basic realm=\"office\""}, ""}},
       ""},
      {"no logon and nothing stored", nullptr, true, {{{"Negotiate", "NTLM"}, ""}}, ""},
      {"only schemes we do not speak", nullptr, false, {{{"Digest realm=\"x\", nonce=\"1\""}, ""}}, ""},
      {"no challenge at all", nullptr, false, {{{}, ""}}, ""},
  };
  SecurityFunctionTableA provider = ScriptedProvider();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CredDeleteA(kTarget, CRED_TYPE_GENERIC, 0);
    if (row.storedUser) StoreCredential(row.storedUser, password);
    g_script = Script();
    g_script.refuseCredentials = row.providerRefuses;
    CProxyAuthentication auth(&provider, kProxy);
    for (size_t i = 0; i < row.rounds.size(); ++i) {
      EXPECT_EQ(row.rounds[i].answer, auth.Answer(ProxyAnswer(row.rounds[i].offered))) << "round " << i;
    }
    EXPECT_EQ(row.package, g_script.package);
    if (*row.package) {
      EXPECT_EQ(1, g_script.contexts);
      EXPECT_EQ("HTTP/proxy.test", g_script.target);
      EXPECT_EQ(row.storedUser != nullptr, g_script.identityGiven);
    }
    if (row.storedUser && *row.package) {
      EXPECT_EQ("CORP", g_script.domain);
      EXPECT_EQ("agent", g_script.user);
      EXPECT_EQ(ansiPassword, g_script.password);
    }
  }
  CredDeleteA(kTarget, CRED_TYPE_GENERIC, 0);
}
