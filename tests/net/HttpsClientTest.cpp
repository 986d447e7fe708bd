// CHttpClient over https against real TLS peers on loopback (tests/net/tls): our test server with
// one certificate per case, nginx, relays that cut the stream differently, peers that are not
// TLS at all, and CONNECT proxies. The harness trusts the run's test root in the prefix first.
#include <gtest/gtest.h>

#include <winsock2.h>

#include <map>
#include <string>
#include <thread>

#include "TestServerBytes.h"
#include "TestSupport.h"
#include "base/Path.h"
#include "base/WinEvent.h"
#include "net/EventSocket.h"
#include "net/HttpClient.h"
#include "net/TlsStream.h"

namespace {

constexpr HRESULT kAnyFailure = E_FAIL;  // the provider's own failure; its code differs by system
const HRESULT kTimedOut = HRESULT_FROM_WIN32(WSAETIMEDOUT);

class HttpsClientTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(1, NetStartup());
    s_ports = TestServerPorts(VELMOR_TEST_SERVERS_FILE);
    ASSERT_TRUE(s_ports.count("tls-good")) << "no TLS peers in " << VELMOR_TEST_SERVERS_FILE;
  }
  static void TearDownTestSuite() { NetCleanup(); }
  void TearDown() override {
    DeleteFileA(ProxyFile().c_str());
    DeleteFileA((ExecutablePath() + ".Debug.Data").c_str());
  }

  static std::string Port(const std::string& server) { return std::to_string(s_ports[server]); }
  // Each ":name/" of a server in `url` becomes ":port/".
  static std::string Resolve(std::string url) {
    for (const auto& [server, port] : s_ports) {
      std::string name = ":" + server + "/";
      for (size_t at; (at = url.find(name)) != std::string::npos;)
        url.replace(at + 1, server.size(), std::to_string(port));
    }
    return url;
  }
  static std::string ProxyFile() { return ExecutablePath() + ".Proxy"; }
  static void UseProxy(const std::string& server) {
    ASSERT_TRUE(WriteFileBytes(ProxyFile(), "127.0.0.1\r\n" + Port(server)));
  }
  static CHttpClient::Timings ShortWaits() {
    CHttpClient::Timings timings;
    timings.waitMs = 3000;
    timings.lowSpeedWindowMs = 2000;
    return timings;
  }

  static std::map<std::string, int> s_ports;
};

std::map<std::string, int> HttpsClientTest::s_ports;

struct HttpsCase {
  const char* what;
  std::string url;    // each ":server/" stands for that server's port
  const char* proxy;  // a CONNECT proxy from the .Proxy file, or ""
  int result;
  HRESULT tlsError;  // kAnyFailure: some failure of the provider
  int status;        // when it succeeds, or the proxy's refusal
  std::string body;  // when it succeeds: the whole body, or its start for an echo
};

TEST_F(HttpsClientTest, ServersAndCertificatesDecide) {
  const std::string echo = "GET /echo HTTP/1.1\r\n";
  const HttpsCase cases[] = {
      {"a good chain", "https://localhost:tls-good/bytes?n=300000", "", 1, S_OK, 200, Pattern(300000)},
      {"TLS 1.2 nginx", "https://localhost:nginx-tls12/random.bin", "", 1, S_OK, 200, "<random.bin>"},
      {"a server of TLS 1.0 and 1.1 only", "https://localhost:nginx-tls10/random.bin", "", 0, kAnyFailure, 0, ""},
      {"wrong host", "https://localhost:tls-wrong-host/echo", "", 0, CERT_E_CN_NO_MATCH, 0, ""},
      {"expired", "https://localhost:tls-expired/echo", "", 0, CERT_E_EXPIRED, 0, ""},
      {"not yet valid", "https://localhost:tls-not-yet-valid/echo", "", 0, CERT_E_EXPIRED, 0, ""},
      {"self-signed", "https://localhost:tls-self-signed/echo", "", 0, CERT_E_UNTRUSTEDROOT, 0, ""},
      {"an untrusted CA", "https://localhost:tls-untrusted-ca/echo", "", 0, CERT_E_UNTRUSTEDROOT, 0, ""},
      {"no server-auth usage", "https://localhost:tls-no-server-auth/echo", "", 0, CERT_E_WRONG_USAGE, 0, ""},
      {"leaf without its intermediate", "https://localhost:tls-no-intermediate/echo", "", 0, CERT_E_CHAINING, 0, ""},
      {"an address, not a name", "https://127.0.0.1:tls-good/echo", "", 0, S_OK, 0, ""},
      {"a stalled handshake", "https://localhost:tls-stall/echo", "", 0, kTimedOut, 0, ""},
      {"plain http on the TLS port", "https://localhost:tls-plain/echo", "", 0, kAnyFailure, 0, ""},
      {"a byte per send", "https://localhost:relay-bytewise/bytes?n=60000", "", 1, S_OK, 200, Pattern(60000)},
      {"many records per read", "https://localhost:relay-merge/bytes?n=2000000", "", 1, S_OK, 200, Pattern(2000000)},
      {"chunked inside TLS", "https://localhost:tls-good/chunked?n=100000&chunk=8192", "", 1, S_OK, 200,
       Pattern(100000)},
      {"to the close, then close_notify", "https://localhost:tls-good/close-delimited", "", 1, S_OK, 200,
       "first part,second part"},
      {"to the close, cut before close_notify", "https://localhost:tls-good/cut-without-close-notify?n=5000", "", 0,
       CTlsStream::kTruncated, 0, ""},
      {"a head without end", "https://localhost:tls-good/endless-head", "", 0, S_OK, 0, ""},
      {"a drip-feed", "https://localhost:tls-good/drip?ms=300", "", 0, S_OK, 0, ""},
      {"https down to http", "https://localhost:tls-good/redirect?to=http://localhost:test/echo", "", 0, S_OK, 0, ""},
      {"http up to https", "http://localhost:test/redirect?to=https://localhost:tls-good/echo", "", 1, S_OK, 200, echo},
      {"through a tunnel", "https://localhost:tls-good/echo", "proxy-ok", 1, S_OK, 200, echo},
      {"a proxy asking for credentials", "https://localhost:tls-good/echo", "proxy-407", 0, S_OK, 407, ""},
      {"a proxy without a way there", "https://localhost:tls-good/echo", "proxy-502", 0, S_OK, 502, ""},
  };
  const std::string nginxFile = ReadFileBytes(std::string(VELMOR_TEST_WWW_DIR) + "\\random.bin");
  for (const HttpsCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string url = Resolve(c.url);
    DeleteFileA(ProxyFile().c_str());
    if (*c.proxy) UseProxy(c.proxy);
    CHttpClient client(ShortWaits());
    client.SetHttps(true);
    EXPECT_EQ(c.result, client.Get(url.c_str(), true)) << url;
    if (c.tlsError == kAnyFailure) {
      EXPECT_TRUE(FAILED(client.GetTlsError())) << std::hex << client.GetTlsError();
    } else {
      EXPECT_EQ(c.tlsError, client.GetTlsError()) << std::hex << client.GetTlsError();
    }
    if (c.status) {
      EXPECT_EQ(c.status, client.GetStatusCode());
    }
    if (c.result == 0) continue;
    std::string body = Body(client);
    if (c.body == echo) {
      EXPECT_EQ(0u, body.find(echo)) << body;  // origin form, in a tunnel too
      EXPECT_NE(std::string::npos, body.find("\r\nHost: localhost:" + Port("tls-good") + "\r\n")) << body;
    } else {
      EXPECT_EQ(c.body == "<random.bin>" ? nginxFile : c.body, body);
    }
  }

  // The tunnel was asked for by name and port, as the certificate is checked.
  std::string serversFile = VELMOR_TEST_SERVERS_FILE;
  std::string proxyLog = ReadFileBytes(serversFile.substr(0, serversFile.rfind('\\')) + "\\proxy-ok.log");
  EXPECT_EQ(0u, proxyLog.find("CONNECT localhost:" + Port("tls-good") + "\tHost: localhost:" + Port("tls-good")))
      << proxyLog;

  // Off, https fails without a connection, as it always did.
  DeleteFileA(ProxyFile().c_str());
  CHttpClient off(ShortWaits());
  EXPECT_EQ(0, off.Get(Resolve("https://localhost:tls-good/echo").c_str(), false));
  EXPECT_EQ(0, off.Get(Resolve("http://localhost:test/redirect?to=https://localhost:tls-good/echo").c_str(), true));
}

void CancelSecondReport(int, int, DWORD_PTR userData, int* continueFlag) {
  int* calls = reinterpret_cast<int*>(userData);
  if (++*calls == 2) *continueFlag = 0;
}

// The caller's abort event ends a handshake that the server stalls, the progress callback's
// cancel ends a download inside TLS, and debug mode writes the plaintext of both directions.
TEST_F(HttpsClientTest, TheCallerKeepsControlInsideTls) {
  CHttpClient::Timings longWaits;
  longWaits.waitMs = 60000;
  CWinEvent abort;
  CHttpClient stalled(longWaits);
  stalled.SetHttps(true);
  stalled.SetAbortEvent(abort.Get());
  std::thread setter([&abort] {
    Sleep(300);
    abort.Set();
  });
  DWORD started = GetTickCount();
  EXPECT_EQ(0, stalled.Get(Resolve("https://localhost:tls-stall/echo").c_str(), false));
  EXPECT_LT(GetTickCount() - started, 20000u);
  setter.join();

  int calls = 0;
  CHttpClient cancelled;
  cancelled.SetHttps(true);
  cancelled.SetProgressCallback(CancelSecondReport, reinterpret_cast<DWORD_PTR>(&calls));
  EXPECT_EQ(0, cancelled.Get(Resolve("https://localhost:tls-good/bytes?n=3000000").c_str(), false));
  EXPECT_EQ(2, calls);

  const std::string debugSwitch = ExecutablePath() + ".Debug.Data";
  ASSERT_TRUE(WriteFileBytes(debugSwitch, ""));
  CHttpClient dumped;
  dumped.SetHttps(true);
  ASSERT_EQ(1, dumped.InnerGet(Resolve("https://localhost:tls-good/echo").c_str()));
  DeleteFileA(debugSwitch.c_str());
  std::string request = Body(dumped);
  int requests = 0;
  int responses = 0;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((ExecutablePath() + ".DebugData_*.dat").c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  do {
    std::string path = ExeDirectory() + "\\" + found.cFileName;
    std::string content = ReadFileBytes(path);
    requests += content == request;
    responses += content == Text(dumped.GetResponse());
    DeleteFileA(path.c_str());
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(1, requests);
  EXPECT_EQ(2, responses);  // the growing response and the final one
}

}  // namespace
