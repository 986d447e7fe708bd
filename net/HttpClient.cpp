#include "net/HttpClient.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/TextConverter.h"
#include "base/TextFormat.h"
#include "net/CertificateCheck.h"
#include "net/Connection.h"
#include "net/EventSocket.h"
#include "net/HttpLines.h"
#include "net/HttpSideFiles.h"
#include "net/IncomingResponse.h"
#include "net/MultipartForm.h"
#include "net/ProxyAuthentication.h"
#include "net/SystemProxy.h"
#include "net/Url.h"

const char CHttpClient::kDefaultUserAgent[] =
    "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1; Trident/4.0; GTB6.6; SLCC2; .NET CLR 2.0.50727; .NET CLR "
    "3.5.30729; .NET CLR 3.0.30729; Media Center PC 6.0)";

namespace {

// One recv can drain whatever the socket holds for a download; head-only answers need little.
constexpr int kLargeReceive = 0x300000;
constexpr int kSmallReceive = 1023;
constexpr int kStatusContinue = 100;
constexpr int kStatusMovedPermanently = 301;
constexpr int kStatusFound = 302;
constexpr int kStatusProxyAuthenticationRequired = 407;
constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;

const char kFormContentType[] = "application/x-www-form-urlencoded";
const char kAcceptEncoding[] = "gzip, deflate";
const char kMultipartContentType[] = "multipart/form-data; boundary=%s";
const char kProxyAuthorization[] = "Proxy-Authorization";
const char kHiddenValue[] = "(hidden)";

std::string TrimLeadingSpaces(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? "" : text.substr(first);
}

std::string DecimalText(long long value) {
  std::string text;
  FormatString(text, "%lld", value);
  return text;
}

int DefaultPort(int scheme) { return scheme == CUrl::kSchemeHttps ? kHttpsPort : kHttpPort; }

// A slash-relative Location continues on the current host, over http on the default port; from
// an https page, over https on the current port, never a step down to http.
std::string ResolveLocation(const CUrl& current, const std::string& location) {
  std::string trimmed = TrimLeadingSpaces(location);
  if (trimmed.empty() || trimmed[0] != '/') return trimmed;
  std::string resolved;
  if (current.scheme != CUrl::kSchemeHttps) {
    FormatString(resolved, "http://%s%s", current.hostName.c_str(), trimmed.c_str());
  } else if (current.port == kHttpsPort) {
    FormatString(resolved, "https://%s%s", current.hostName.c_str(), trimmed.c_str());
  } else {
    FormatString(resolved, "https://%s:%d%s", current.hostName.c_str(), current.port, trimmed.c_str());
  }
  return resolved;
}

bool IsDowngrade(const CUrl& from, const std::string& to) {
  return from.scheme == CUrl::kSchemeHttps && CUrl(to.c_str()).scheme != CUrl::kSchemeHttps;
}

bool IsRedirect(int status) { return status == kStatusMovedPermanently || status == kStatusFound; }

// A URL (or a redirect's Location) holding CR, LF or another control character would smuggle
// text into the request line: such a URL is refused before any request text is built.
bool ParseRequestUrl(const std::string& url, CUrl& parsed) {
  for (unsigned char c : url) {
    if (c < 0x20 || c == 0x7f) return false;
  }
  return parsed.SetUrl(url.c_str());
}

bool IsSuccess(int status) { return status >= 200 && status < 300; }

// The head of a request or response with each Proxy-Authorization value hidden: the debug dump
// never holds a credential.
std::string WithoutCredentials(const std::string& text) {
  std::string masked;
  size_t start = 0;
  for (size_t end; (end = text.find(kLineEnd, start)) != std::string::npos; start = end + kLineEndLength) {
    std::string line = text.substr(start, end - start);
    size_t colon = line.find(':');
    if (colon != std::string::npos && _stricmp(line.substr(0, colon).c_str(), kProxyAuthorization) == 0) {
      line = line.substr(0, colon) + ": " + kHiddenValue;
    }
    masked += line + kLineEnd;
    if (end == start) return masked + text.substr(end + kLineEndLength);  // the body as it is
  }
  return masked + text.substr(start);
}

void WriteRequestDebugFile(const std::string& text) {
  std::string name;
  std::string masked = WithoutCredentials(text);
  WriteDebugFile(name, CByteBuffer(masked.data(), static_cast<int>(masked.size())));
}

// Whether the next request may go on the connection that brought `answer`: all of it arrived,
// and neither side said the connection ends with it.
bool CanReuse(const CConnection& connection, const CIncomingResponse& answer) {
  if (connection.PeerClosed() || !answer.IsComplete()) return false;
  HttpHeaders headers = ParseResponseHeaders(answer.Head());
  for (const char* name : {"Connection", "Proxy-Connection"}) {
    const std::string* value = FindHeader(headers, name);
    if (value && AsciiLower(*value).find("close") != std::string::npos) return false;
  }
  return GetResponseHead(answer.Head()).rfind("HTTP/1.0", 0) != 0;
}

// The headers of a round that answers a proxy's 407: the credential, and a connection kept open
// for the proxy's next challenge, whatever the request's own Connection header says.
HttpHeaders AuthenticationHeaders(const std::string& authorization) {
  return {{"Connection", "keep-alive"}, {kProxyAuthorization, authorization}};
}

}  // namespace

int CHttpClient::AddHeader(const char* name, const char* value) {
  m_headers.emplace_back(name ? name : "", value ? value : "");
  return static_cast<int>(m_headers.size());
}

int CHttpClient::RemoveHeader(const char* name) {
  m_headers.erase(std::remove_if(m_headers.begin(), m_headers.end(),
                                 [name](const auto& header) { return _stricmp(header.first.c_str(), name) == 0; }),
                  m_headers.end());
  return static_cast<int>(m_headers.size());
}

bool CHttpClient::HasHeader(const char* name) const { return FindHeader(m_headers, name) != nullptr; }

std::string CHttpClient::GetHeader(const char* name) const {
  const std::string* value = FindHeader(m_headers, name);
  return value ? *value : "";
}

void CHttpClient::AddFile(const char* name, const CByteBuffer& bytes) {
  m_fileNames.push_back(name ? name : "");
  m_fileContents.push_back(CByteBuffer(bytes.Data(), bytes.Length()));
}

void CHttpClient::SetProxy(const char* host, int port) {
  m_proxyHost = host ? host : "";
  m_proxyPort = port;
}

int CHttpClient::EnableProxy(int enable) {
  if (m_proxyHost.empty() || m_proxyPort == 0) return 0;
  m_useProxy = enable;
  return enable;
}

void CHttpClient::SetProgressCallback(ProgressCallback callback, DWORD_PTR userData) {
  m_progressCallback = callback;
  m_progressUserData = userData;
}

void CHttpClient::SetUploadCallback(ProgressCallback callback, DWORD_PTR userData) {
  m_uploadCallback = callback;
  m_uploadUserData = userData;
}

void CHttpClient::Reset() {
  m_headers.clear();
  m_params.Clear();
  ClearResponse();
  m_cookies.Clear();
  m_fileNames.clear();
  m_fileContents.clear();
}

void CHttpClient::ClearResponse() {
  m_responseHead.Clear();
  m_responseBody.Clear();
}

CByteBuffer CHttpClient::GetResponse() const { return Concatenated(m_responseHead, m_responseBody); }

bool CHttpClient::GetResponseBody(CByteBuffer& body) {
  return DecodeResponseBody(m_responseHead, m_responseBody, m_maxResponseBytes, body, &m_headers);
}

CByteBuffer CHttpClient::GetResponseBody() {
  CByteBuffer body;
  GetResponseBody(body);
  return body;
}

std::string CHttpClient::GetResponseText() {
  CByteBuffer body = GetResponseBody();
  const char* text = reinterpret_cast<const char*>(body.Data());
  return std::string(text, strnlen(text, body.Length()));
}

int CHttpClient::Get(const char* url, bool followRedirects) {
  return FollowRedirects(&CHttpClient::InnerGet, url, followRedirects, true);
}

int CHttpClient::Post(const char* url, bool followRedirects) {
  return FollowRedirects(&CHttpClient::InnerPost, url, followRedirects, false);
}

int CHttpClient::Put(const char* url, bool followRedirects) {
  return FollowRedirects(&CHttpClient::InnerPut, url, followRedirects, false);
}

// Each hop starts afresh (Reset: no caller headers, no cookies) except for the Referer.
int CHttpClient::FollowRedirects(InnerRequest first, const char* url, bool followRedirects, bool resolveSlashLocation) {
  ClearResponse();
  ApplyProxyFile();
  std::string current = url ? url : "";
  m_effectiveUrl = current;
  std::string referer = GetHeader("Referer");
  if (!(this->*first)(current.c_str())) return 0;
  if (!followRedirects) return 1;
  for (int hops = 0;; ++hops) {
    if (!IsRedirect(GetStatusCode())) return 1;
    ParseResponseHeaders();
    std::string location = GetHeader("Location");
    if (location.empty()) return 1;
    if (hops == kMaxRedirects) return 0;
    current = resolveSlashLocation ? ResolveLocation(m_requestUrl, location) : location;
    if (m_https && IsDowngrade(m_requestUrl, current)) return 0;
    m_effectiveUrl = current;
    Reset();
    if (!referer.empty()) AddHeader("Referer", referer.c_str());
    if (!InnerGet(current.c_str())) return 0;
  }
}

void CHttpClient::ApplyProxyFile() {
  std::string host;
  int port = 0;
  if (!ReadProxyFile(&host, &port)) return;
  SetProxy(host.c_str(), port);
  EnableProxy(1);
}

void CHttpClient::AddIfAbsent(const char* name, const char* value) {
  if (!HasHeader(name)) AddHeader(name, value);
}

void CHttpClient::AddHostAndCookie(const CUrl& parsed) {
  std::string host = parsed.hostName;
  if (parsed.port != DefaultPort(parsed.scheme)) FormatString(host, "%s:%d", parsed.hostName.c_str(), parsed.port);
  AddHeader("Host", host.c_str());
  std::string cookie = m_cookies.GetCookieHeader(parsed);
  if (!cookie.empty()) AddHeader("Cookie", cookie.c_str());
}

// Method, target (the whole URL for a proxy, else the path from the first "/" after "//"; in a
// tunnel the server reads it, as without a proxy), the header lines in list order, the blank
// line, then `body`.
std::string CHttpClient::RequestText(const RequestHead& request, const HttpHeaders& hopHeaders) const {
  const std::string& url = request.url;
  std::string target = url;
  if (!m_viaProxy || m_requestUrl.scheme == CUrl::kSchemeHttps) {
    size_t authority = url.find("//");
    size_t slash = authority == std::string::npos ? std::string::npos : url.find('/', authority + 2);
    target = slash == std::string::npos ? "/" : url.substr(slash);
  }
  std::string text = std::string(request.method) + " " + target + " HTTP/1.1" + kLineEnd;
  bool first = true;
  auto addLine = [&](const std::pair<std::string, std::string>& header) {
    if (!first) text += kLineEnd;
    text += header.first + ": " + header.second;
    first = false;
  };
  for (const auto& header : m_headers) {
    if (!FindHeader(hopHeaders, header.first.c_str())) addLine(header);
  }
  for (const auto& header : hopHeaders) addLine(header);
  return text + kHeadEnd + request.body;
}

// Direct, through the proxy a ".Proxy" file or SetProxy names, or with the system proxy on,
// through the one the user's settings choose for this URL. False when the abort event ended the
// choice.
bool CHttpClient::ChooseRoute(const CUrl& parsed) {
  m_viaProxy = m_useProxy != 0;
  if (m_viaProxy) {
    m_route = {m_proxyHost, m_proxyPort};
    return true;
  }
  if (!m_systemProxy) return true;
  EProxyRoute route = ChooseSystemProxy(parsed, m_abortEvent, kProxyScriptWaitMs, m_route);
  m_viaProxy = route == EProxyRoute::kProxy;
  return route != EProxyRoute::kAborted;
}

bool CHttpClient::Connect(CEventSocket& socket, const CUrl& parsed) const {
  socket.SetAbortEvent(m_abortEvent);
  if (m_viaProxy) {
    return socket.ConnectHost(m_route.host.c_str(), static_cast<unsigned short>(m_route.port), m_timings.waitMs);
  }
  return socket.ConnectHost(parsed.hostName.c_str(), parsed.port, m_timings.waitMs);
}

// After a 407 that is to be answered: on the same connection when it stays open, else on a new one.
bool CHttpClient::KeepOrReconnect(CConnection& connection, const CUrl& parsed, const CIncomingResponse& answer) {
  return CanReuse(connection, answer) || Connect(connection.Socket(), parsed);
}

bool CHttpClient::ReportProgress(ProgressCallback callback, DWORD_PTR userData, int done, int total) const {
  if (!callback) return true;
  int continueFlag = 1;
  callback(done, total, userData, &continueFlag);
  return continueFlag != 0;
}

CHttpClient::EReceiveEnd CHttpClient::Receive(CConnection& connection, CIncomingResponse& incoming,
                                              const ReceiveOptions& options) {
  bool headOnly = options.until == EReceiveUntil::kHead;
  CLowSpeedRule lowSpeed(GetTickCount(), m_timings.lowSpeedWindowMs);
  for (;;) {
    int room = 0;
    BYTE* space = incoming.ReceiveSpace(&room);
    if (!space) return EReceiveEnd::kFailed;
    DWORD timeLeft = lowSpeed.TimeLeft(GetTickCount());
    if (timeLeft == 0) return EReceiveEnd::kFailed;  // a drip-feed
    int count = 0;
    int result = connection.Receive(space, room, &count, timeLeft < m_timings.waitMs ? timeLeft : m_timings.waitMs);
    if (result == kNetWouldBlock) continue;  // a stale readiness report: wait again
    if (result == kNetAborted) return EReceiveEnd::kStopped;
    if (result != kNetDone) return EReceiveEnd::kFailed;
    lowSpeed.Received(GetTickCount(), count);
    if (count == 0) {
      if (!connection.PeerClosed()) continue;
      // The server is done: what it sent is all there will be.
      bool ended = headOnly ? incoming.HasHead() : incoming.IsCompleteAtClose();
      return ended ? EReceiveEnd::kEnded : EReceiveEnd::kFailed;
    }
    if (!incoming.Commit(count)) return EReceiveEnd::kFailed;
    int received = incoming.ReceivedLength();
    if (options.debugFile) WriteDebugFile(*options.debugFile, incoming.Joined());
    if (options.reportProgress) {
      int total = static_cast<int>(std::max<long long>(incoming.ExpectedTotal(), received));
      if (!ReportProgress(m_progressCallback, m_progressUserData, received, total)) {
        return EReceiveEnd::kStopped;
      }
    }
    if (headOnly ? incoming.HasHead() : incoming.IsComplete()) return EReceiveEnd::kEnded;
  }
}

void CHttpClient::StoreResponse(const CIncomingResponse& incoming) {
  m_responseHead = incoming.Head();
  m_responseBody = incoming.Body();
  m_cookies.TakeSetCookies(GetResponseHead());
}

// TCP to the server or the proxy; for https, through the proxy's tunnel, then TLS.
bool CHttpClient::Open(CConnection& connection, const CUrl& parsed, CProxyAuthentication* auth,
                       std::string* debugFile) {
  bool tls = parsed.scheme == CUrl::kSchemeHttps;
  if (tls && IsAddressLiteral(parsed.hostName)) return false;
  if (!Connect(connection.Socket(), parsed)) return false;
  if (!tls) return true;
  bool opened = (!m_viaProxy || OpenTunnel(connection, parsed, auth, debugFile)) &&
                connection.StartTls(parsed.hostName.c_str(), m_timings.waitMs, m_timings.lowSpeedWindowMs);
  m_tlsError = connection.TlsError();
  return opened;
}

// CONNECT host:port, its 407s answered when `auth` is given. Any other answer but 2xx fails the
// request; that answer stays the stored response (and in the debug dump), so its status can be read.
bool CHttpClient::OpenTunnel(CConnection& connection, const CUrl& parsed, CProxyAuthentication* auth,
                             std::string* debugFile) {
  std::string authority;
  FormatString(authority, "%s:%d", parsed.hostName.c_str(), parsed.port);
  std::string authorization;
  for (;;) {
    std::string text = "CONNECT " + authority + " HTTP/1.1" + kLineEnd + "Host: " + authority;
    if (!authorization.empty()) text += kLineEnd + std::string(kProxyAuthorization) + ": " + authorization;
    if (!SendText(connection, text + kHeadEnd)) return false;
    CIncomingResponse answer(kSmallReceive, m_maxResponseBytes);
    if (Receive(connection, answer, {EReceiveUntil::kHead, false, debugFile}) != EReceiveEnd::kEnded) return false;
    int status = ::GetStatusCode(answer.Head());
    // Bytes after the head would come from the server before our hello: no server sends any.
    if (IsSuccess(status) && answer.Body().IsEmpty()) return true;
    m_responseHead = answer.Head();
    m_responseBody.Clear();
    authorization = auth && status == kStatusProxyAuthenticationRequired ? auth->Answer(answer.Head()) : "";
    if (authorization.empty()) return false;
    // The rest of the 407's body comes off before the next CONNECT goes on this connection.
    bool drained = answer.IsComplete() ||
                   Receive(connection, answer, {EReceiveUntil::kComplete, false, debugFile}) == EReceiveEnd::kEnded;
    if (!drained || !KeepOrReconnect(connection, parsed, answer)) return false;
  }
}

// Chooses the route, writes the request debug file, connects, lets `transfer` send and receive,
// and stores the answer. With the system proxy on, a proxy's 407 to a plain request is answered by
// sending the request again with the credential. A scheme we do not speak at all gives an empty
// response; https without SetHttps fails.
int CHttpClient::Exchange(const RequestHead& request, const CUrl& parsed, int receiveSize, bool reportProgress,
                          bool writeFinalDebugFile, const Transfer& transfer) {
  m_tlsError = S_OK;
  bool web = parsed.scheme == CUrl::kSchemeHttp || parsed.scheme == CUrl::kSchemeHttps;
  if (web && !ChooseRoute(parsed)) return 0;
  std::string text = RequestText(request);
  bool debug = IsHttpDebugOn();
  std::string responseDebugFile;
  if (debug) {
    WriteRequestDebugFile(text);
    responseDebugFile = NewDebugFileName();
  }
  std::string* debugFile = debug ? &responseDebugFile : nullptr;
  bool tls = parsed.scheme == CUrl::kSchemeHttps;
  if (tls && !m_https) return 0;

  std::optional<CIncomingResponse> incoming(std::in_place, receiveSize, m_maxResponseBytes);
  EReceiveEnd end = EReceiveEnd::kEnded;
  if (web) {
    std::optional<CProxyAuthentication> auth;
    if (m_viaProxy && m_systemProxy) auth.emplace(PlatformSecurityInterface(), m_route);
    CConnection connection;
    if (!Open(connection, parsed, auth ? &*auth : nullptr, debugFile)) return 0;
    for (;;) {
      end = transfer(connection, *incoming, text, debugFile);
      m_tlsError = connection.TlsError();
      // Inside a tunnel a 407 comes from the server itself: it is never answered.
      bool proxyAsks = end == EReceiveEnd::kEnded && auth && !tls &&
                       ::GetStatusCode(incoming->Head()) == kStatusProxyAuthenticationRequired;
      std::string authorization = proxyAsks ? auth->Answer(incoming->Head()) : "";
      if (authorization.empty()) break;
      if (!KeepOrReconnect(connection, parsed, *incoming)) return 0;
      text = RequestText(request, AuthenticationHeaders(authorization));
      if (debug) WriteRequestDebugFile(text);
      incoming.emplace(receiveSize, m_maxResponseBytes);
    }
    if (end == EReceiveEnd::kStopped) return 0;
    if (end == EReceiveEnd::kEnded) connection.Finish(m_timings.waitMs);
  }

  if (debug && writeFinalDebugFile) {
    std::string finalDebugFile;
    WriteDebugFile(finalDebugFile, incoming->Joined());
  }
  int received = incoming->ReceivedLength();
  if (reportProgress && received > 0) ReportProgress(m_progressCallback, m_progressUserData, received, received);
  if (end == EReceiveEnd::kFailed) return 0;
  StoreResponse(*incoming);
  return 1;
}

// What tells the plain request methods apart.
struct CHttpClient::MethodPlan {
  const char* method;
  bool queryParams;  // fragment dropped, form parameters in the query; else the URL as given
  std::vector<std::pair<const char*, const char*>> headersIfAbsent;
  bool formBody;  // the form parameters as the body, with their Content-Length
  EReceiveUntil until;
  bool finalDebugFile;  // debug mode also writes the final response to a file of its own
};

// A request whose text goes out in one send, answered by one response.
int CHttpClient::Request(const MethodPlan& plan, const char* url) {
  std::string target = url ? url : "";
  if (plan.queryParams) target = CleanRequestUrl(target, FormText());
  CUrl& parsed = m_requestUrl;
  if (!ParseRequestUrl(target, parsed)) return 0;
  for (const auto& [name, value] : plan.headersIfAbsent) AddIfAbsent(name, value);
  AddHostAndCookie(parsed);
  std::string body = plan.formBody ? FormText() : "";
  if (plan.formBody) AddHeader("Content-Length", DecimalText(body.size()).c_str());

  bool headOnly = plan.until == EReceiveUntil::kHead;
  ReceiveOptions options = {plan.until, true, nullptr};
  return Exchange(
      {plan.method, target, body}, parsed, headOnly ? kSmallReceive : kLargeReceive, true, plan.finalDebugFile,
      [&](CConnection& connection, CIncomingResponse& incoming, const std::string& text, std::string* debugFile) {
        if (!SendText(connection, text)) return EReceiveEnd::kStopped;
        options.debugFile = debugFile;
        return Receive(connection, incoming, options);
      });
}

std::string CHttpClient::FormText() const { return m_params.Build(m_ansiParams != 0); }

bool CHttpClient::SendText(CConnection& connection, const std::string& text) const {
  return SendBytes(connection, text.data(), static_cast<int>(text.size()));
}

bool CHttpClient::SendBytes(CConnection& connection, const void* bytes, int length) const {
  return connection.Send(bytes, length, m_timings.waitMs) == kNetDone;
}

int CHttpClient::InnerGet(const char* url) {
  static const MethodPlan plan = {
      "GET", true, {{"User-Agent", kDefaultUserAgent}, {"Connection", "close"}}, false, EReceiveUntil::kComplete, true};
  return Request(plan, url);
}

int CHttpClient::InnerPost(const char* url) {
  static const MethodPlan plan = {
      "POST",
      false,
      {{"Accept-Encoding", kAcceptEncoding}, {"Connection", "close"}, {"Content-Type", kFormContentType}},
      true,
      EReceiveUntil::kComplete,
      false};
  return Request(plan, url);
}

int CHttpClient::InnerPut(const char* url) {
  static const MethodPlan plan = {"PUT", false, {{"Content-Type", kFormContentType}}, true, EReceiveUntil::kComplete,
                                  false};
  return Request(plan, url);
}

int CHttpClient::InnerHead(const char* url) {
  static const MethodPlan plan = {"HEAD", true, {}, false, EReceiveUntil::kHead, true};
  return Request(plan, url);
}

int CHttpClient::InnerDelete(const char* url) {
  static const MethodPlan plan = {"DELETE", true, {}, false, EReceiveUntil::kHead, true};
  return Request(plan, url);
}

// The head may carry the form parameters; the body follows only once the server answers 100.
int CHttpClient::InnerPutBody(const char* url, const CByteBuffer& body) {
  std::string target = url ? url : "";
  CUrl& parsed = m_requestUrl;
  if (!ParseRequestUrl(target, parsed)) return 0;
  AddIfAbsent("Content-Type", kFormContentType);
  AddHostAndCookie(parsed);
  AddHeader("Content-Length", DecimalText(body.Length()).c_str());
  std::string form = FormText();
  int result = Exchange(
      {"PUT", target, form}, parsed, kSmallReceive, false, false,
      [&](CConnection& connection, CIncomingResponse& incoming, const std::string& text, std::string* debugFile) {
        if (!SendText(connection, text)) return EReceiveEnd::kStopped;
        CIncomingResponse interim(kSmallReceive, m_maxResponseBytes);
        interim.KeepInterimAnswers();
        if (Receive(connection, interim, {EReceiveUntil::kHead, false, debugFile}) != EReceiveEnd::kEnded) {
          return EReceiveEnd::kStopped;
        }
        m_responseHead = interim.Head();
        m_responseBody.Clear();
        if (GetStatusCode() != kStatusContinue) return EReceiveEnd::kStopped;
        if (!SendBytes(connection, body.Data(), body.Length())) return EReceiveEnd::kStopped;
        return Receive(connection, incoming, {EReceiveUntil::kComplete, false, debugFile});
      });
  if (result) ParseResponseHeaders();
  return result;
}

int CHttpClient::InnerPostMultipart(const char* url) {
  ApplyProxyFile();
  std::string target = url ? url : "";
  CUrl& parsed = m_requestUrl;
  if (!ParseRequestUrl(target, parsed)) return 0;
  CMultipartForm form;
  for (const auto& [name, value] : m_params.Entries()) form.AddField(name, value);
  for (size_t i = 0; i < m_fileNames.size(); ++i) {
    form.AddFile(m_fileNames[i], m_fileNames[i], m_fileContents[i].Data(), m_fileContents[i].Length());
  }
  CByteBuffer body;
  std::string boundary;
  if (!form.Build(body, boundary)) return 0;

  AddIfAbsent("Accept-Encoding", kAcceptEncoding);
  AddHostAndCookie(parsed);
  AddHeader("Content-Length", DecimalText(body.Length()).c_str());
  std::string contentType;
  FormatString(contentType, kMultipartContentType, boundary.c_str());
  AddHeader("Content-Type", contentType.c_str());
  const std::string noText;
  return Exchange(
      {"POST", target, noText}, parsed, kLargeReceive, false, false,
      [&](CConnection& connection, CIncomingResponse& incoming, const std::string& head, std::string* debugFile) {
        if (!SendUpload(connection, head, body)) return EReceiveEnd::kStopped;
        return Receive(connection, incoming, {EReceiveUntil::kComplete, false, debugFile});
      });
}

// The head in one send, then the body in paced chunks so the upload callback can follow along
// (and cancel).
bool CHttpClient::SendUpload(CConnection& connection, const std::string& head, const CByteBuffer& body) {
  if (!SendText(connection, head)) return false;
  int sent = static_cast<int>(head.size());
  int total = sent + body.Length();
  if (!ReportProgress(m_uploadCallback, m_uploadUserData, sent, total)) return false;
  for (int offset = 0; offset < body.Length(); offset += kUploadChunk) {
    int chunk = std::min(kUploadChunk, body.Length() - offset);
    if (!SendBytes(connection, body.Data() + offset, chunk)) return false;
    sent += chunk;
    if (!ReportProgress(m_uploadCallback, m_uploadUserData, sent, total)) return false;
    Sleep(1);
  }
  return true;
}
