#include "net/SystemProxy.h"

#include <winhttp.h>

#include "base/ScopedHandle.h"
#include "base/SystemLibrary.h"
#include "base/TextConverter.h"

namespace {

const wchar_t kScriptAgent[] = L"Velmor";

// winhttp is no KnownDLL: it is looked up in the system directory, like the other such libraries.
struct WinHttp {
  decltype(&WinHttpGetIEProxyConfigForCurrentUser) getUserConfig;
  decltype(&WinHttpOpen) open;
  decltype(&WinHttpGetProxyForUrl) getProxyForUrl;
  decltype(&WinHttpCloseHandle) closeHandle;
};

const WinHttp* WinHttpFunctions() {
  static const WinHttp functions = {
      SystemFunction<decltype(&WinHttpGetIEProxyConfigForCurrentUser)>("winhttp.dll",
                                                                       "WinHttpGetIEProxyConfigForCurrentUser"),
      SystemFunction<decltype(&WinHttpOpen)>("winhttp.dll", "WinHttpOpen"),
      SystemFunction<decltype(&WinHttpGetProxyForUrl)>("winhttp.dll", "WinHttpGetProxyForUrl"),
      SystemFunction<decltype(&WinHttpCloseHandle)>("winhttp.dll", "WinHttpCloseHandle")};
  bool complete = functions.getUserConfig && functions.open && functions.getProxyForUrl && functions.closeHandle;
  return complete ? &functions : nullptr;
}

// A string WinHTTP allocated for us: taken over as ANSI, freed at once.
std::string TakeText(LPWSTR text) {
  if (!text) return "";
  CTextConverter converter;
  const char* ansi = converter.WideToAnsi(text);
  std::string taken = ansi ? ansi : "";
  GlobalFree(text);
  return taken;
}

std::wstring TakeWideText(LPWSTR text) {
  if (!text) return L"";
  std::wstring taken = text;
  GlobalFree(text);
  return taken;
}

struct UserSettings {
  bool autoDetect = false;
  std::wstring scriptUrl;
  std::string proxyList;
  std::string bypass;
};

UserSettings ReadUserSettings(const WinHttp& winhttp) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
  UserSettings settings;
  if (!winhttp.getUserConfig(&config)) return settings;
  settings.autoDetect = config.fAutoDetect != FALSE;
  settings.scriptUrl = TakeWideText(config.lpszAutoConfigUrl);
  settings.proxyList = TakeText(config.lpszProxy);
  settings.bypass = TakeText(config.lpszProxyBypass);
  return settings;
}

// One script lookup, run on a thread of its own so that the request can stop waiting for it. The
// request and the thread each hold a reference; whichever lets go last frees it.
struct ScriptJob {
  const WinHttp* winhttp = nullptr;
  std::wstring url;
  bool autoDetect = false;
  std::wstring scriptUrl;
  // Written by the thread, read only once it has ended.
  bool answered = false;
  std::string proxyList;  // empty: the script said to go direct
  LONG references = 2;

  void Release() {
    if (InterlockedDecrement(&references) == 0) delete this;
  }
};

class CInternetSession {
public:
  explicit CInternetSession(const WinHttp& winhttp)
      : m_winhttp(winhttp),
        m_session(winhttp.open(kScriptAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0)) {}
  CInternetSession(const CInternetSession&) = delete;
  CInternetSession& operator=(const CInternetSession&) = delete;
  ~CInternetSession() {
    if (m_session) m_winhttp.closeHandle(m_session);
  }
  HINTERNET Get() const { return m_session; }

private:
  const WinHttp& m_winhttp;
  HINTERNET m_session;
};

void RunScript(ScriptJob& job) {
  CInternetSession session(*job.winhttp);
  if (!session.Get()) return;
  WINHTTP_AUTOPROXY_OPTIONS options = {};
  if (job.autoDetect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (!job.scriptUrl.empty()) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = job.scriptUrl.c_str();
  }
  WINHTTP_PROXY_INFO info = {};
  if (!job.winhttp->getProxyForUrl(session.Get(), job.url.c_str(), &options, &info)) return;
  std::string list = TakeText(info.lpszProxy);
  TakeText(info.lpszProxyBypass);
  job.answered = true;
  if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) job.proxyList = list;
}

DWORD WINAPI ScriptThread(void* parameter) {
  auto* job = static_cast<ScriptJob*>(parameter);
  RunScript(*job);
  job->Release();
  return 0;
}

enum class EScript { kAnswered, kNoAnswer, kAborted };

EScript AskScript(const WinHttp& winhttp, const UserSettings& settings, const CUrl& url, HANDLE abortEvent,
                  DWORD waitMs, std::string& proxyList) {
  CTextConverter converter;
  const wchar_t* wideUrl = converter.AnsiToWide(url.urlText.c_str());
  if (!wideUrl) return EScript::kNoAnswer;
  auto* job = new ScriptJob;
  job->winhttp = &winhttp;
  job->url = wideUrl;
  job->autoDetect = settings.autoDetect;
  job->scriptUrl = settings.scriptUrl;
  CKernelHandle thread(CreateThread(nullptr, 0, ScriptThread, job, 0, nullptr));
  if (!thread.IsValid()) {
    delete job;
    return EScript::kNoAnswer;
  }
  HANDLE waits[] = {thread.Get(), abortEvent};
  DWORD waited = WaitForMultipleObjects(abortEvent ? 2 : 1, waits, FALSE, waitMs);
  EScript result = EScript::kNoAnswer;
  if (waited == WAIT_OBJECT_0 + 1) result = EScript::kAborted;
  if (waited == WAIT_OBJECT_0 && job->answered) {
    result = EScript::kAnswered;
    proxyList = job->proxyList;
  }
  job->Release();
  return result;
}

EProxyRoute RouteByList(const std::string& list, const CUrl& url, ProxyServer& proxy) {
  return !list.empty() && ProxyForScheme(list, url.schemeName, proxy) ? EProxyRoute::kProxy : EProxyRoute::kDirect;
}

}  // namespace

EProxyRoute ChooseSystemProxy(const CUrl& url, HANDLE abortEvent, DWORD scriptWaitMs, ProxyServer& proxy) {
  const WinHttp* winhttp = WinHttpFunctions();
  if (!winhttp) return EProxyRoute::kDirect;
  UserSettings settings = ReadUserSettings(*winhttp);
  if (settings.autoDetect || !settings.scriptUrl.empty()) {
    std::string scriptList;
    switch (AskScript(*winhttp, settings, url, abortEvent, scriptWaitMs, scriptList)) {
      case EScript::kAborted: return EProxyRoute::kAborted;
      case EScript::kAnswered: return RouteByList(scriptList, url, proxy);
      case EScript::kNoAnswer: break;
    }
  }
  if (BypassesProxy(settings.bypass, url.hostName)) return EProxyRoute::kDirect;
  return RouteByList(settings.proxyList, url, proxy);
}
