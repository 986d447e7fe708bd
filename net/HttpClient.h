// The product's own HTTP/1.1 client: one object serves one caller for a sequence of requests,
// each on a connection of its own. The caller puts headers and form parameters in, runs one
// request, and reads the status and the decoded body of the stored response.
#pragma once

#include <winsock2.h>  // before windows.h, which the other headers include

#include <functional>
#include <string>
#include <vector>

#include "base/ByteBuffer.h"
#include "net/CookieJar.h"
#include "net/FormParams.h"
#include "net/HttpResponse.h"
#include "net/IncomingResponse.h"
#include "net/LowSpeedRule.h"
#include "net/ProxyChoice.h"
#include "net/Url.h"

class CConnection;
class CEventSocket;
class CProxyAuthentication;

// Progress of a download or upload; setting *continueFlag to 0 cancels the request.
typedef void (*ProgressCallback)(int done, int total, DWORD_PTR userData, int* continueFlag);

class CHttpClient {
public:
  static constexpr DWORD kTimeoutMs = 30000;  // each wait of each connect, send and receive
  static constexpr int kMaxRedirects = 10;    // hops one Get, Post or Put follows before failing
  static constexpr int kUploadChunk = 30720;
  static const char kDefaultUserAgent[];

  // How long a request may wait; tests shorten them, the product keeps the defaults.
  struct Timings {
    DWORD waitMs = kTimeoutMs;
    DWORD lowSpeedWindowMs = CLowSpeedRule::kWindowMs;
  };

  CHttpClient() = default;
  explicit CHttpClient(const Timings& timings) : m_timings(timings) {}
  CHttpClient(const CHttpClient&) = delete;
  CHttpClient& operator=(const CHttpClient&) = delete;

  // The header list holds the request headers until ParseResponseHeaders (or GetResponseBody)
  // replaces it with the response's. Headers a request adds stay in it for the next request.
  int AddHeader(const char* name, const char* value);  // the new number of headers
  int RemoveHeader(const char* name);                  // every one of that name; the number left
  bool HasHeader(const char* name) const;
  std::string GetHeader(const char* name) const;  // the first of that name, "" when none
  void ClearHeaders() { m_headers.clear(); }

  void SetParam(const char* name, const char* value) { m_params.Set(name, value); }
  void SetParam(const char* name, int value) { m_params.Set(name, value); }
  // Form values percent-encoded as code-page bytes instead of UTF-8.
  void SetAnsiParams(bool ansi) { m_ansiParams = ansi; }
  void AddFile(const char* name, const CByteBuffer& bytes);

  void SetProxy(const char* host, int port);
  int EnableProxy(int enable);  // 0 (nothing changes) without a proxy host and port
  void SetProgressCallback(ProgressCallback callback, DWORD_PTR userData);
  void SetUploadCallback(ProgressCallback callback, DWORD_PTR userData);
  // The most a response, and its inflated body, may hold (512 MiB unless set lower).
  void SetResponseLimit(int maxBytes) { m_maxResponseBytes = maxBytes; }
  // An event of the caller's that, once set, ends every wait of a request at once: the request
  // fails. Null (the default) leaves only the time-outs.
  void SetAbortEvent(HANDLE event) { m_abortEvent = event; }
  // Off (the default), an https URL fails without connecting. On, https goes over TLS with the
  // server's certificate checked, through a proxy by CONNECT; a redirect from https down to http
  // fails, one from http up to https is followed.
  void SetHttps(bool on) { m_https = on; }
  // Why the last https request's TLS session failed (the provider's status or the certificate
  // check's reason, see CheckServerCertificate); S_OK when it did not.
  HRESULT GetTlsError() const { return m_tlsError; }
  // Off (the default), only a ".Proxy" file or SetProxy chooses a proxy, and a proxy's 407 is
  // the answer. On, without those the user's proxy settings choose one for each URL (redirects
  // included), and a proxy that asks for authentication is answered on the same connection
  // (CProxyAuthentication); its credentials never reach the debug dump.
  void SetSystemProxy(bool on) { m_systemProxy = on; }

  // Empties the headers, parameters, response, cookies and queued files.
  void Reset();
  std::string GetEffectiveUrl() const { return m_effectiveUrl; }
  CCookieJar& Cookies() { return m_cookies; }

  // 1 on success, 0 on failure. Get, Post and Put follow 301 and 302 answers with GET when asked.
  int Get(const char* url, bool followRedirects);
  int Post(const char* url, bool followRedirects);
  int Put(const char* url, bool followRedirects);
  int InnerGet(const char* url);
  int InnerPost(const char* url);
  int InnerPut(const char* url);
  int InnerPutBody(const char* url, const CByteBuffer& body);  // the body goes after a 100 answer
  int InnerPostMultipart(const char* url);
  int InnerHead(const char* url);
  int InnerDelete(const char* url);

  // The stored response as received, head and raw body joined (a copy: for diagnostics).
  CByteBuffer GetResponse() const;
  int GetResponseLength() const { return m_responseHead.Length() + m_responseBody.Length(); }
  std::string GetResponseHead() const { return ::GetResponseHead(m_responseHead); }
  int GetStatusCode() const { return ::GetStatusCode(m_responseHead); }
  void ParseResponseHeaders() { m_headers = ::ParseResponseHeaders(m_responseHead); }
  // The decoded body; both also parse the response headers into the header list. A plain body is
  // handed out without a copy. The checked form is false when memory ran out, where the other
  // gives an empty body: callers that keep the body use the checked one.
  bool GetResponseBody(CByteBuffer& body);
  CByteBuffer GetResponseBody();
  std::string GetResponseText();  // the body up to its first zero byte

private:
  enum class EReceiveUntil { kComplete, kHead };
  // kStopped: the request ends at once (send failed, cancelled, refused), nothing more reported.
  enum class EReceiveEnd { kEnded, kFailed, kStopped };
  struct ReceiveOptions {
    EReceiveUntil until;
    bool reportProgress;
    std::string* debugFile;  // rewritten with the response so far after each receive; may be null
  };
  using InnerRequest = int (CHttpClient::*)(const char* url);
  using Transfer = std::function<EReceiveEnd(CConnection& connection, CIncomingResponse& incoming,
                                             const std::string& text, std::string* debugFile)>;
  // What a request sends before any separate body: its method, URL and the text after the head.
  struct RequestHead {
    const char* method;
    const std::string& url;
    const std::string& body;
  };

  int FollowRedirects(InnerRequest first, const char* url, bool followRedirects, bool resolveSlashLocation);
  void ApplyProxyFile();
  void AddIfAbsent(const char* name, const char* value);
  void AddHostAndCookie(const CUrl& parsed);
  std::string RequestText(const RequestHead& request, const HttpHeaders& hopHeaders = {}) const;
  bool ChooseRoute(const CUrl& parsed);
  bool Connect(CEventSocket& socket, const CUrl& parsed) const;
  bool Open(CConnection& connection, const CUrl& parsed, CProxyAuthentication* auth, std::string* debugFile);
  bool OpenTunnel(CConnection& connection, const CUrl& parsed, CProxyAuthentication* auth, std::string* debugFile);
  bool KeepOrReconnect(CConnection& connection, const CUrl& parsed, const CIncomingResponse& answer);
  int Exchange(const RequestHead& request, const CUrl& parsed, int receiveSize, bool reportProgress,
               bool writeFinalDebugFile, const Transfer& transfer);
  struct MethodPlan;
  int Request(const MethodPlan& plan, const char* url);
  std::string FormText() const;
  bool SendText(CConnection& connection, const std::string& text) const;
  EReceiveEnd Receive(CConnection& connection, CIncomingResponse& incoming, const ReceiveOptions& options);
  bool ReportProgress(ProgressCallback callback, DWORD_PTR userData, int done, int total) const;
  bool SendUpload(CConnection& connection, const std::string& head, const CByteBuffer& body);
  bool SendBytes(CConnection& connection, const void* bytes, int length) const;
  void StoreResponse(const CIncomingResponse& incoming);
  void ClearResponse();

  Timings m_timings;
  int m_maxResponseBytes = CIncomingResponse::kMaxResponseBytes;
  HANDLE m_abortEvent = nullptr;
  bool m_https = false;
  HRESULT m_tlsError = S_OK;
  int m_ansiParams = 0;
  CFormParams m_params;
  CByteBuffer m_responseHead;
  CByteBuffer m_responseBody;
  HttpHeaders m_headers;
  CCookieJar m_cookies;
  int m_useProxy = 0;
  std::string m_proxyHost;
  int m_proxyPort = 0;
  bool m_systemProxy = false;
  // The way of the request in flight: through m_route, or direct.
  bool m_viaProxy = false;
  ProxyServer m_route;
  std::string m_effectiveUrl;
  // The target of the request in flight (or last sent), cracked once: its connection, Host,
  // cookies and a redirect's slash-relative Location all come from it.
  CUrl m_requestUrl;
  std::vector<std::string> m_fileNames;
  std::vector<CByteBuffer> m_fileContents;
  ProgressCallback m_uploadCallback = nullptr;
  DWORD_PTR m_uploadUserData = 0;
  ProgressCallback m_progressCallback = nullptr;
  DWORD_PTR m_progressUserData = 0;
};
