// The launcher and its HTTP client in an office network: squid as the office proxy (open, Basic,
// NTLM ports, caching as the headers allow) in front of the deployment's nginx, and a PAC script
// server, all started by tests/app/e2e/servers.sh. The user's proxy settings are written where
// WinHTTP reads them, and credentials where cmdkey stores them.
#include <windows.h>

#include <wincred.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "SiteDeployment.h"
#include "base/Base64.h"
#include "base/FileUtil.h"
#include "base/Path.h"
#include "net/HttpClient.h"

namespace {

const std::string kConfigHost = std::string("config.") + BuildConfig::kProductDomain;
const std::string kSiteHttps = kState + "\\site-https";
const char kConnectionsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const char kSettingsValue[] = "DefaultConnectionSettings";
constexpr DWORD kSettingsMagic = 0x46;
// The settings' flags, as Internet Options writes them.
constexpr DWORD kDirect = 1;
constexpr DWORD kUseProxy = 2;
constexpr DWORD kUseScript = 4;
const char kBasicUser[] = "agent";
const char kBasicPassword[] = "agent-password";
constexpr int kBranchLaunchers = 50;

// "{name}" in `text` becomes the port of that server.
std::string WithPorts(std::string text) {
  for (size_t open; (open = text.find('{')) != std::string::npos;) {
    size_t close = text.find('}', open);
    text.replace(open, close - open + 1, std::to_string(ServerPort(text.substr(open + 1, close - open - 1).c_str())));
  }
  return text;
}

// The current user's proxy settings, in the value WinHTTP reads; the earlier value comes back
// when the test ends.
class CProxySettings {
public:
  CProxySettings() {
    RegCreateKeyExA(HKEY_CURRENT_USER, kConnectionsKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, m_key.Put(),
                    nullptr);
    DWORD size = 0;
    m_had = RegQueryValueExA(m_key.Get(), kSettingsValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
    m_previous.resize(size);
    if (m_had) RegQueryValueExA(m_key.Get(), kSettingsValue, nullptr, nullptr, m_previous.data(), &size);
  }
  ~CProxySettings() {
    if (m_had) {
      RegSetValueExA(m_key.Get(), kSettingsValue, 0, REG_BINARY, m_previous.data(),
                     static_cast<DWORD>(m_previous.size()));
    } else {
      RegDeleteValueA(m_key.Get(), kSettingsValue);
    }
  }

  // Ports in braces, as in WithPorts.
  void Set(DWORD flags, const std::string& proxy, const std::string& bypass = "", const std::string& script = "") {
    std::string blob;
    auto add = [&blob](DWORD value) { blob.append(reinterpret_cast<const char*>(&value), sizeof(value)); };
    add(kSettingsMagic);
    add(++m_counter);
    add(flags);
    for (const std::string& text : {WithPorts(proxy), bypass, WithPorts(script)}) {
      add(static_cast<DWORD>(text.size()));
      blob += text;
    }
    blob.append(32, '\0');  // what Windows keeps after them (auto-detect state), all unset
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(m_key.Get(), kSettingsValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()),
                             static_cast<DWORD>(blob.size())));
  }

private:
  CRegKey m_key;
  bool m_had = false;
  std::vector<BYTE> m_previous;
  DWORD m_counter = 0;
};

// A generic credential for a proxy ("{name}" its port), as cmdkey stores it; gone with the object.
class CStoredProxyCredential {
public:
  CStoredProxyCredential(const char* proxy, const char* user, const char* password)
      : m_target("velmor-proxy:127.0.0.1:" + WithPorts(proxy)) {
    std::wstring wide(password, password + strlen(password));
    CREDENTIALA credential = {};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = &m_target[0];
    credential.UserName = const_cast<char*>(user);
    credential.CredentialBlob = reinterpret_cast<BYTE*>(&wide[0]);
    credential.CredentialBlobSize = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    EXPECT_TRUE(CredWriteA(&credential, 0)) << GetLastError();
  }
  ~CStoredProxyCredential() { CredDeleteA(m_target.c_str(), CRED_TYPE_GENERIC, 0); }

private:
  std::string m_target;
};

// One line of a squid port's log.
struct ProxyRequest {
  std::string method, url, result;
  int status;
  int clientPort;
  long long replyBytes;
};

// The deployment's site, with squid in front of it.
class OfficeNetwork : public SiteDeployment {
protected:
  OfficeNetwork() : SiteDeployment(kSite, {"nginx", "nginx-slow"}) {}

  void SetUp() override {
    SiteDeployment::SetUp();
    DeleteFileA((m_exe + ".Proxy").c_str());  // the settings decide
    ForgetAll();
  }

  void ForgetAll() {
    for (const char* log : kLogs) ForgetRequests(log);
  }

  std::vector<ProxyRequest> ProxyRequests(const char* proxy, size_t atLeast = 0) {
    std::vector<ProxyRequest> requests;
    for (int attempt = 0; attempt < 20; ++attempt) {
      std::vector<std::string> lines = Lines(LogOf(proxy));
      requests.clear();
      for (size_t i = m_logStart[proxy]; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        requests.push_back({JsonValue(line, "method"), JsonValue(line, "url"), JsonValue(line, "result"),
                            atoi(JsonValue(line, "status").c_str()), atoi(JsonValue(line, "client_port").c_str()),
                            atoll(JsonValue(line, "reply_bytes").c_str())});
      }
      if (requests.size() >= atLeast) break;
      Sleep(100);
    }
    return requests;
  }

  // "METHOD status" of each request the proxy logged since the last ForgetAll, between ", ".
  std::string ProxySummary(const char* proxy, size_t atLeast = 0) {
    std::string summary;
    for (const ProxyRequest& request : ProxyRequests(proxy, atLeast)) {
      summary += (summary.empty() ? "" : ", ") + request.method + " " + std::to_string(request.status);
    }
    return summary;
  }

  void ExpectNoProxyUsed() {
    for (const char* proxy : {"squid", "squid-basic", "squid-ntlm"}) EXPECT_TRUE(ProxyRequests(proxy).empty()) << proxy;
  }

  static constexpr const char* kLogs[] = {"squid", "squid-basic", "squid-ntlm", "pac", "nginx", "nginx-https"};
  CProxySettings m_settings;
};

// Launchers of their own, each with an empty data folder beside it.
std::string FreshLauncher(const CScratchDir& scratch, int number, const char* built) {
  std::string run = scratch.File("branch " + std::to_string(number));
  EXPECT_TRUE(CPath((run + "\\velmor files").c_str()).MakeDirectory());
  EXPECT_TRUE(WriteFileBytes(run + "\\velmor files\\setup.ini", ""));
  EXPECT_TRUE(CopyFileA((ExeDirectory() + "\\" + built).c_str(), (run + "\\velmor.exe").c_str(), FALSE));
  return run + "\\velmor.exe";
}

}  // namespace

TEST_F(OfficeNetwork, TheClientGoesWhereTheSettingsSayAndAnswersItsProxy) {
  PublishRelease(SampleLibrary());
  // Signed, for the https launcher's site; a serial above any published there before.
  std::string signedRelease = NewStaging();
  PublishSigned(std::to_string(static_cast<long long>(time(nullptr)) * 10 + 1), signedRelease, "https");
  PublishStagedTo(signedRelease, kSiteHttps, {"nginx-https"});

  const std::string plain = "http://" + kConfigHost + "/loader.db";
  const std::string secure = "https://" + kConfigHost + "/loader.db";
  const std::string direct = WithPorts("http://127.0.0.1:{nginx}/loader.db");
  const std::string script = "http://127.0.0.1:{pac}/proxy.pac";
  const std::string noScript = "http://127.0.0.1:1/proxy.pac";
  struct Credential {
    const char* proxy;  // "{name}": stored for that proxy
    const char* user;
    const char* password;
  };
  struct Settings {
    DWORD flags;
    std::string proxy = "", bypass = "", script = "";
  };
  struct Row {
    const char* name;
    Settings settings;
    Credential stored;  // proxy null: none
    std::string url;
    int ok, status;
    const char* proxyLog;  // the proxy that must have seen the request, or null: none did
    std::string proxied;   // what it logged, in order
    std::string ours;      // our servers that saw a request: "pac" (the script), "nginx" (one, direct)
  };
  const Credential none = {nullptr, nullptr, nullptr};
  const Credential basic = {"{squid-basic}", kBasicUser, kBasicPassword};
  const Credential wrongBasic = {"{squid-basic}", kBasicUser, "wrong-password"};
  const Credential basicElsewhere = {"{squid-ntlm}", kBasicUser, kBasicPassword};
  const Credential ntlm = {"{squid-ntlm}", "OFFICE\\alice", "any-password"};
  const Credential forOrigin = {"{pac}", kBasicUser, kBasicPassword};
  const Settings open = {kUseProxy, "127.0.0.1:{squid}"};
  const Settings perScheme = {kUseProxy, "http=127.0.0.1:1;https=127.0.0.1:{squid}"};
  const Settings bypassing = {kUseProxy, "127.0.0.1:{squid}", "<local>;127.0.0.*"};
  const Settings pac = {kUseScript, "", "", script};
  // Wine keeps a script it has read for the rest of the process: this one is read anew.
  const Settings pacAgain = {kUseScript, "", "", script + "?again"};
  const Settings lostScriptOrStatic = {kUseProxy | kUseScript, "127.0.0.1:{squid}", "", noScript};
  const Settings lostScriptOnly = {kUseScript, "", "", noScript};
  const Settings basicOnly = {kUseProxy, "127.0.0.1:{squid-basic}"};
  const Settings ntlmOnly = {kUseProxy, "127.0.0.1:{squid-ntlm}"};
  const Settings noProxy = {kDirect};
  const std::string origin407 = WithPorts("http://127.0.0.1:{pac}/proxy-auth");
  // From a host the script sends direct to the one it sends through squid.
  const std::string redirectToConfig = WithPorts("http://127.0.0.1:{pac}/redirect?to=") + plain;
  const Row rows[] = {
      {"the static proxy", open, none, plain, 1, 200, "squid", "GET 200", ""},
      {"the per-scheme list's https entry, through CONNECT", perScheme, none, secure, 1, 200, "squid", "CONNECT 200",
       ""},
      {"a host on the bypass list goes direct", bypassing, none, direct, 1, 200, nullptr, "", "nginx"},
      {"the PAC script sends the configuration host through squid", pac, none, plain, 1, 200, "squid", "GET 200",
       "pac"},
      {"the PAC script sends another host direct", pacAgain, none, direct, 1, 200, nullptr, "", "pac nginx"},
      {"a redirect is routed anew", pac, none, redirectToConfig, 1, 200, "squid", "GET 200", "pac"},
      {"a script that cannot be fetched falls back to the static proxy", lostScriptOrStatic, none, plain, 1, 200,
       "squid", "GET 200", ""},
      {"then, without a static proxy, to a direct connection", lostScriptOnly, none, direct, 1, 200, nullptr, "",
       "nginx"},
      {"Basic with the stored credential", basicOnly, basic, plain, 1, 200, "squid-basic", "GET 407, GET 200", ""},
      {"Basic with a wrong one keeps the 407", basicOnly, wrongBasic, plain, 1, 407, "squid-basic", "GET 407, GET 407",
       ""},
      {"Basic with none stored is not answered", basicOnly, none, plain, 1, 407, "squid-basic", "GET 407", ""},
      {"Basic is never sent to another proxy", basicOnly, basicElsewhere, plain, 1, 407, "squid-basic", "GET 407", ""},
      {"Basic for CONNECT", basicOnly, basic, secure, 1, 200, "squid-basic", "CONNECT 407, CONNECT 200", ""},
      {"a wrong one for CONNECT fails with the 407", basicOnly, wrongBasic, secure, 0, 407, "squid-basic",
       "CONNECT 407, CONNECT 407", ""},
      {"NTLM with a stored credential, three messages", ntlmOnly, ntlm, plain, 1, 200, "squid-ntlm",
       "GET 407, GET 407, GET 200", ""},
      {"NTLM for CONNECT", ntlmOnly, ntlm, secure, 1, 200, "squid-ntlm", "CONNECT 407, CONNECT 407, CONNECT 200", ""},
      // Wine has no logon password for ntlm_auth (it asks for one): the first message goes, the
      // challenge cannot be answered, and the 407 stays.
      {"NTLM with the logged-on user (none under Wine)", ntlmOnly, none, plain, 1, 407, "squid-ntlm",
       "GET 407, GET 407", ""},
      {"an origin server's 407 is never answered", noProxy, forOrigin, origin407, 1, 407, nullptr, "", "pac"},
  };
  const std::string debugSwitch = ExecutablePath() + ".Debug.Data";
  ASSERT_TRUE(WriteFileBytes(debugSwitch, ""));
  std::vector<std::string> secrets = {kBasicPassword, "wrong-password", "any-password"};
  for (const char* password : {kBasicPassword, "wrong-password"}) {
    std::string pair = std::string(kBasicUser) + ":" + password;
    secrets.push_back(EncodeBase64(reinterpret_cast<const uint8_t*>(pair.data()), pair.size()));
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    m_settings.Set(row.settings.flags, row.settings.proxy, row.settings.bypass, row.settings.script);
    std::unique_ptr<CStoredProxyCredential> stored;
    if (row.stored.proxy)
      stored.reset(new CStoredProxyCredential(row.stored.proxy, row.stored.user, row.stored.password));
    ForgetAll();
    CHttpClient client;
    client.SetSystemProxy(true);
    client.SetHttps(true);
    EXPECT_EQ(row.ok, client.Get(row.url.c_str(), true));
    EXPECT_EQ(row.status, client.GetStatusCode());

    if (row.proxyLog) {
      size_t logged = std::count(row.proxied.begin(), row.proxied.end(), ',') + 1;
      std::vector<ProxyRequest> requests = ProxyRequests(row.proxyLog, logged);
      EXPECT_EQ(row.proxied, ProxySummary(row.proxyLog, logged));
      // The answers to a challenge went on the connection that brought it.
      if (requests.size() == 3) {
        EXPECT_EQ(requests[1].clientPort, requests[2].clientPort);
      }
    } else {
      ExpectNoProxyUsed();
    }
    std::vector<std::string> pacLines = Lines(LogOf("pac"));
    pacLines.erase(pacLines.begin(), pacLines.begin() + std::min(pacLines.size(), m_logStart["pac"]));
    EXPECT_EQ(row.ours.find("pac") != std::string::npos, !pacLines.empty());
    if (row.ours.find("nginx") != std::string::npos) {
      EXPECT_EQ(1u, Requests("nginx", 1).size());
    }
    for (const std::string& line : pacLines) EXPECT_EQ("", JsonValue(line, "proxy_authorization"));

    // The debug dump shows that a credential went, never the credential.
    bool answered = false;
    WIN32_FIND_DATAA found;
    CFindHandle search(FindFirstFileA((ExecutablePath() + ".DebugData_*.dat").c_str(), &found));
    for (bool more = search.IsValid(); more; more = FindNextFileA(search.Get(), &found)) {
      std::string path = ExeDirectory() + "\\" + found.cFileName;
      std::string dump = ReadFileBytes(path);
      answered |= dump.find("\r\nProxy-Authorization: (hidden)\r\n") != std::string::npos;
      for (const std::string& secret : secrets) EXPECT_EQ(std::string::npos, dump.find(secret)) << found.cFileName;
      DeleteFileA(path.c_str());
    }
    bool plainAnswer = row.url == plain && row.proxied.find(',') != std::string::npos;
    EXPECT_EQ(plainAnswer, answered);
  }
  DeleteFileA(debugSwitch.c_str());
}

TEST_F(OfficeNetwork, TheLauncherStartsThroughTheUsersProxy) {
  std::string release = Stage(SampleLibrary());
  PublishStaged(release);
  const std::string closed = "网络异常";
  using Served = std::vector<std::pair<const char*, int>>;
  struct Row {
    const char* name;
    const char* launcher;
    std::string proxy;      // the static proxy of the settings
    const char* proxyFile;  // a ".Proxy" file naming this server, or null
    bool wrongCredential;   // one stored for squid-basic
    const char* proxyLog;   // the proxy that must have seen the requests, or null: none did
    std::string proxied;    // what it logged first, as ProxySummary writes it
    Served upstream;        // what nginx served, in order
    bool starts;            // else the network failure's retry box, cancelled
  };
  const char* office = "velmor_office.exe";
  const Served downloaded = {{"/loader.db", 200}, {"/loader.zip", 200}};
  const Served revalidated = {{"/loader.db", 304}};
  const Served nothing;
  const Row rows[] = {
      {"a first start", office, "127.0.0.1:{squid}", nullptr, false, "squid", "GET 200, GET 200", downloaded, true},
      // squid revalidates upstream and answers our own If-None-Match in full.
      {"the next start", office, "127.0.0.1:{squid}", nullptr, false, "squid", "GET 200", revalidated, true},
      {"a .Proxy file still wins", office, "127.0.0.1:{squid}", "nginx", false, nullptr, "", revalidated, true},
      {"a wrong stored credential is a failed attempt", office, "127.0.0.1:{squid-basic}", nullptr, true, "squid-basic",
       "GET 407, GET 407", nothing, false},
      {"the shipped launcher leaves the settings alone", "velmor_short_seconds.exe", "127.0.0.1:{squid}", nullptr,
       false, nullptr, "", nothing, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    UseLauncher(row.launcher);
    DeleteFileA((m_exe + ".Proxy").c_str());
    if (row.proxyFile) UseServer(row.proxyFile);
    m_settings.Set(kUseProxy, row.proxy);
    std::unique_ptr<CStoredProxyCredential> stored;
    if (row.wrongCredential) stored.reset(new CStoredProxyCredential("{squid-basic}", kBasicUser, "wrong-password"));
    ForgetAll();
    DeleteFileA(m_trace.c_str());
    if (row.starts) {
      EXPECT_EQ(0u, Launch());
      EXPECT_TRUE(m_seen.empty());
      ExpectInstalledPair(release, SampleLibrary());
      ExpectWorkbenchStarted();
    } else {
      // The failed attempts are retried first: the box comes at the end of the countdowns.
      EXPECT_EQ(0u, Launch({{closed, IDCANCEL}}));
      ASSERT_EQ(1u, m_seen.size());
      EXPECT_EQ(closed, m_seen[0].caption);
      EXPECT_FALSE(WorkbenchStarted());
    }
    if (row.proxyLog) {
      // Every attempt of a failing start looks alike: the first tells.
      size_t logged = std::count(row.proxied.begin(), row.proxied.end(), ',') + 1;
      EXPECT_EQ(row.proxied, ProxySummary(row.proxyLog, logged).substr(0, row.proxied.size()));
    } else {
      ExpectNoProxyUsed();
    }
    std::vector<Request> upstream = Requests("nginx", row.upstream.size());
    ASSERT_EQ(row.upstream.size(), upstream.size());
    for (size_t i = 0; i < upstream.size(); ++i) {
      EXPECT_EQ(row.upstream[i].first, upstream[i].path) << i;
      EXPECT_EQ(row.upstream[i].second, upstream[i].status) << i;
    }
  }
}

TEST_F(OfficeNetwork, TheHttpsLauncherTunnelsWhereThePacScriptSays) {
  UseLauncher("velmor_office_https.exe");
  std::string release = NewStaging();
  PublishSigned(std::to_string(static_cast<long long>(time(nullptr)) * 10 + 2), release, "https");
  PublishStagedTo(release, kSiteHttps, {"nginx-https"});
  m_settings.Set(kUseScript, "", "", "http://127.0.0.1:{pac}/proxy.pac");
  const std::vector<std::vector<std::pair<const char*, int>>> starts = {{{"/loader.db", 200}, {"/loader.zip", 200}},
                                                                        {{"/loader.db", 304}}};
  for (const auto& served : starts) {
    SCOPED_TRACE(served.size() == 2 ? "a first start" : "the next start");
    ForgetAll();
    DeleteFileA(m_trace.c_str());
    EXPECT_EQ(0u, Launch());
    EXPECT_TRUE(m_seen.empty());
    ExpectWorkbenchStarted();
    std::vector<ProxyRequest> tunnels = ProxyRequests("squid", served.size());
    ASSERT_EQ(served.size(), tunnels.size());
    for (const ProxyRequest& tunnel : tunnels) EXPECT_EQ(kConfigHost + ":443", tunnel.url);
    std::vector<Request> requests = Requests("nginx-https", served.size());
    ASSERT_EQ(served.size(), requests.size());
    for (size_t i = 0; i < served.size(); ++i) {
      EXPECT_EQ(served[i].first, requests[i].path) << i;
      EXPECT_EQ(served[i].second, requests[i].status) << i;
    }
  }
}

// A branch office: every agent's first start goes through one caching squid, which fetches the
// package (named by its content, cacheable for a year) once and revalidates loader.db each time.
TEST_F(OfficeNetwork, FiftyFreshLaunchersFetchThePackageOnceUpstream) {
  PublishStaged(Stage(SampleLibrary(), true));
  m_settings.Set(kUseProxy, "127.0.0.1:{squid}");
  ForgetAll();
  DeleteFileA(m_trace.c_str());
  for (int i = 0; i < kBranchLaunchers; ++i) {
    std::vector<DialogSeen> seen;
    ASSERT_EQ(0u,
              RunProgramAnswering("\"" + FreshLauncher(m_scratch, i, "velmor_office.exe") + "\"", {}, &seen, 120000))
        << i;
    ASSERT_TRUE(seen.empty()) << i << ": " << seen[0].text;
  }
  EXPECT_EQ(kBranchLaunchers, CountEvents("start"));

  std::vector<std::string> lines = Lines(LogOf("nginx"));
  std::map<std::string, int> upstream;
  long long upstreamBytes = 0;
  for (size_t i = m_logStart["nginx"]; i < lines.size(); ++i) {
    std::string path = JsonValue(lines[i], "path");
    upstream[path == "/loader.db" ? path + " " + JsonValue(lines[i], "status") : "package"]++;
    upstreamBytes += atoll(JsonValue(lines[i], "bytes").c_str());
  }
  std::map<std::string, int> expected = {
      {"/loader.db 200", 1}, {"/loader.db 304", kBranchLaunchers - 1}, {"package", 1}};
  EXPECT_EQ(expected, upstream);
  std::vector<ProxyRequest> served = ProxyRequests("squid", 2 * kBranchLaunchers);
  EXPECT_EQ(2u * kBranchLaunchers, served.size());
  long long servedBytes = 0;
  int hits = 0;
  for (const ProxyRequest& request : served) {
    servedBytes += request.replyBytes;
    hits += request.result.find("HIT") != std::string::npos;
  }
  EXPECT_EQ(kBranchLaunchers - 1, hits);  // every package after the first
  int upstreamRequests = 0;
  for (const auto& entry : upstream) upstreamRequests += entry.second;
  printf(
      "branch office: %d launchers; launchers <- squid: %zu requests, %lld bytes (headers included); "
      "squid <- nginx: %d requests, %lld body bytes (%d package download)\n",
      kBranchLaunchers, served.size(), servedBytes, upstreamRequests, upstreamBytes, upstream["package"]);
  RecordProperty("launcher_side_bytes", std::to_string(servedBytes));
  RecordProperty("upstream_bytes", std::to_string(upstreamBytes));
}
