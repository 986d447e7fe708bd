#include "app/LoadFlow.h"

#include <ctime>
#include <exception>
#include <iterator>
#include <string>

#include "app/Download.h"
#include "app/ModuleLoader.h"
#include "app/ProductTexts.h"
#include "base/TextFormat.h"
#include "data/DataPaths.h"
#include "ui/SplashWindow.h"

namespace {

const char kLoadingConfig[] = "请稍后，正在加载配置...";
const char kLoadingConfigProgress[] = "请稍后，正在加载配置(%s)...";
const char kLoading[] = "请稍后，正在加载...";
const char kLoadingProgress[] = "请稍后，正在加载(%s)...";
const char kCountdownFormat[] = "网络异常，%d 秒后重试！";
const char kRetryingFormat[] = "正在尝试第%d次重试";
const char kStartingOffline[] = "网络异常，正在使用本地配置离线启动...";
constexpr int kFirstServerError = 500;
constexpr int kLastServerError = 599;

const char kNetworkCaption[] = "网络异常";
const char kAskRetry[] = "\r\n是否继续重试？";

// How a failure's message ends: the retry question, the site's service, or the log-in text.
enum class ETail { kRetry, kContact, kLogIn };

struct FailureText {
  const char* kind;      // what the debugger line calls it
  const char* status;    // the bar's text; null: the countdown's texts stay
  const char* headline;  // the message's first line
  bool reachSite;        // the headline asks the user to make sure the site can be reached
  ETail tail;
  const char* caption;
  UINT type;
};

// Indexed by CLoadFlow::EFailure.
const FailureText kFailureTexts[] = {
    {"network", nullptr, "更新加载配置失败！\r\n", true, ETail::kRetry, kNetworkCaption, MB_RETRYCANCEL | MB_ICONHAND},
    {"refused", "加载配置数据异常！", "加载配置数据异常，", true, ETail::kContact, kErrorCaption, MB_ICONHAND},
    {"network", nullptr, "更新加载器失败！\r\n", true, ETail::kRetry, kNetworkCaption, MB_RETRYCANCEL | MB_ICONHAND},
    {"unpack", "更新加载器异常！", "更新加载器异常！\r\n", false, ETail::kContact, kErrorCaption, MB_ICONHAND},
    {"write", "写入加载器异常！", "写入加载器异常！\r\n", false, ETail::kContact, kErrorCaption, MB_ICONHAND},
    {"load", "软件启动失败！", "启动软件失败！\r\n", false, ETail::kLogIn, kErrorCaption, MB_ICONHAND},
};

// Pauses after the failed attempts; a 0 ends the round.
const int kConfigRetryDelays[] = {3, 5, 8, 0};
const int kLoaderRetryDelays[] = {3, 5, 8};
constexpr DWORD kRetryTextPauseSeconds = 1;

const char kOverrideSwitch[] = "update.ini";
const char kOverrideLibrary[] = "loader.dll";
constexpr long long kOverrideMaxDays = 10;
constexpr long long kSecondsPerDay = 86400;
// Stamped when this file is compiled: the age of the build decides whether the override holds.
const char kBuildTime[] = __TIME__;
const char kBuildDate[] = __DATE__;

// The message of a failure; `shownDetail` (the load's reason) stands on a line of its own.
std::string MessageOf(const FailureText& text, const std::string& shownDetail) {
  std::string message = text.headline;
  if (text.reachSite) message += kReachSiteText;
  if (!shownDetail.empty()) message += shownDetail + "\r\n";
  switch (text.tail) {
    case ETail::kRetry: return message + "\r\n" + ContactSiteText() + kAskRetry;
    case ETail::kContact: return message + "\r\n" + ContactSiteText();
    case ETail::kLogIn: return message + LogInToSiteText();
  }
  return message;
}

std::string StatusDetail(int status) {
  if (status == kNoAnswer) return "no answer";
  std::string text;
  FormatString(text, "status %d", status);
  return text;
}

}  // namespace

CLoadFlow::CLoadFlow(CSplashWindow& splash, CModuleLoader& loader, bool offlineStart, DWORD secondMs)
    : m_splash(splash), m_loader(loader), m_offlineStart(offlineStart), m_secondMs(secondMs) {
  m_loader.SetAbortEvent(m_splash.StopEvent());
}

// The last guard of the worker thread, where nothing else would catch: an exception that escaped a
// step (memory that ran out, say) ends the start with a message, never the process without one.
bool CLoadFlow::RunLoadFlow() {
  try {
    return RunSteps();
  } catch (const std::exception& escaped) {
    return Fail(EFailure::kLoad, {std::string("an exception escaped the flow: ") + escaped.what(), ""});
  } catch (...) {
    return Fail(EFailure::kLoad, {"an exception escaped the flow", ""});
  }
}

bool CLoadFlow::RunSteps() {
  m_splash.SetStatusText(CSplashWindow::kStartingText);
  CByteBuffer loaderBytes;
  if (!UpdateLoader(loaderBytes) || Stopped()) return false;
  if (m_loader.LoadModule(loaderBytes)) return true;
  const std::string& reason = m_loader.GetLastErrorText();
  return Fail(EFailure::kLoad, {"loading " + m_loader.GetLoaderFile()->file_name + ": " + reason, reason});
}

bool CLoadFlow::UpdateLoader(CByteBuffer& loaderBytes) {
  CByteBuffer config;
  if (!FetchConfig(config)) return false;
  // Keyed, a refused configuration (a rollback, an expired or half-signed publish) must not lock
  // out a user whose last good configuration and loader still hold.
  if (!m_loader.ParseConfig(config) && !(m_loader.IsSigned() && KeepLastGoodConfig(config))) {
    return Fail(EFailure::kConfigRefused, {"the configuration does not read, verify or hold one plain record", ""});
  }
  CLoaderInstaller::RemoveLeftovers(*m_loader.GetLoaderFile());
  if (LocalLoaderOverride(loaderBytes)) return true;
  if (m_loader.CheckInstalled(*m_loader.GetLoaderFile(), loaderBytes)) return true;
  CByteBuffer packed;
  if (!m_loader.CheckPacked(*m_loader.GetLoaderFile(), packed) && !FetchPackage(config, packed)) return false;
  // The record may have changed while the package was fetched (RefreshConfig).
  return Install(*m_loader.GetLoaderFile(), packed, loaderBytes);
}

// Rounds of configuration attempts until one succeeds, the offline start takes over, or the user
// declines another round.
bool CLoadFlow::FetchConfig(CByteBuffer& config) {
  for (bool firstRound = true; !DownloadConfigWithRetry(config); firstRound = false) {
    if (firstRound && m_offlineStart && ServerUnreachable() && !Stopped() && UseCachedConfig(config)) return true;
    if (!AskRetry(EFailure::kConfigNetwork, "configuration: " + StatusDetail(m_configStatus))) return false;
  }
  return true;
}

bool CLoadFlow::FetchPackage(const CByteBuffer& config, CByteBuffer& packed) {
  while (!DownloadLoaderWithRetry(config, packed)) {
    if (!AskRetry(EFailure::kLoaderNetwork, "package: " + m_loader.GetLoaderFile()->url)) return false;
  }
  return true;
}

// A package that fails its digests may be the next release's, published after our configuration
// was read: retrying against the same configuration could never succeed. The configuration is
// asked again (a 304 keeps ours); a fresh one that is refused leaves ours in place.
void CLoadFlow::RefreshConfig(const CByteBuffer& config) {
  CByteBuffer fresh;
  int status = kNoAnswer;
  if (!m_loader.DownloadConfig(fresh, nullptr, 0, &status) || SameBytes(fresh, config)) return;
  if (!m_loader.ParseConfig(fresh)) m_loader.ParseConfig(config);
}

// The library out of its package and onto the disk.
bool CLoadFlow::Install(const LoaderFile& file, const CByteBuffer& packed, CByteBuffer& loaderBytes) {
  CByteBuffer unpacked;
  if (!m_loader.Unpack(packed, unpacked)) {
    return Fail(EFailure::kUnpack, {file.file_name + " out of a " + file.compress_type + " package", ""});
  }
  if (!m_loader.InstallLoader(unpacked)) {
    DWORD error = GetLastError();
    return Fail(EFailure::kWrite, {"writing " + file.file_name, "", error});
  }
  loaderBytes = unpacked;
  return true;
}

bool CLoadFlow::DownloadConfigWithRetry(CByteBuffer& config) {
  for (int attempt = 0;; ++attempt) {
    m_splash.SetStatusText(kLoadingConfig);
    m_splash.SetProgressFormat(kLoadingConfigProgress);
    if (m_loader.DownloadConfig(config, ReportProgress, reinterpret_cast<DWORD_PTR>(&m_splash), &m_configStatus)) {
      return true;
    }
    int delay = kConfigRetryDelays[attempt];
    if (delay == 0 || !CountDown(delay, attempt) || !Pause(kRetryTextPauseSeconds * m_secondMs)) return false;
  }
}

bool CLoadFlow::DownloadLoaderWithRetry(const CByteBuffer& config, CByteBuffer& packed) {
  m_splash.SetStatusText(kLoading);
  m_splash.SetProgressFormat(kLoadingProgress);
  for (int attempt = 0; attempt < static_cast<int>(std::size(kLoaderRetryDelays)); ++attempt) {
    if (m_packageMismatched) RefreshConfig(config);
    CLoaderInstaller::EDownload result = m_loader.DownloadPackage(*m_loader.GetLoaderFile(), packed, ReportProgress,
                                                                  reinterpret_cast<DWORD_PTR>(&m_splash));
    m_packageMismatched = result == CLoaderInstaller::EDownload::kMismatch;
    if (result == CLoaderInstaller::EDownload::kPackage) return true;
    if (!CountDown(kLoaderRetryDelays[attempt], attempt)) return false;
  }
  return false;
}

// No answer at all (no connection, a time-out) or a server error: the server is out of reach, as
// opposed to one that answered with something unusable.
bool CLoadFlow::ServerUnreachable() const {
  return m_configStatus == kNoAnswer || (m_configStatus >= kFirstServerError && m_configStatus <= kLastServerError);
}

bool CLoadFlow::KeepLastGoodConfig(CByteBuffer& config) {
  if (!LastGoodConfig(config)) return false;
  OutputDebugStringA("velmor: the configuration was refused; starting with the last good one\n");
  return true;
}

// The offline start: the last good configuration when no server could be reached. Unkeyed, a
// configuration that came but did not parse never gets here.
bool CLoadFlow::UseCachedConfig(CByteBuffer& config) {
  if (!LastGoodConfig(config)) return false;
  m_splash.SetStatusText(kStartingOffline);
  return true;
}

// The configuration of the last good start, when it still parses (signed: verifies, is not below
// the floor and has not expired) and the loader it names is installed and matches it: then the
// flow goes on as after a 304.
bool CLoadFlow::LastGoodConfig(CByteBuffer& config) {
  CByteBuffer cached, installed;
  if (!m_loader.ReadCachedConfig(cached) || !m_loader.ParseConfig(cached)) return false;
  if (!m_loader.CheckInstalled(*m_loader.GetLoaderFile(), installed)) return false;
  config = cached;
  return true;
}

// The countdown text, the pause, then the text of the attempt to come (its percentage format too).
// False when the flow was told to stop meanwhile.
bool CLoadFlow::CountDown(int seconds, int attempt) {
  std::string text;
  FormatString(text, kCountdownFormat, seconds);
  m_splash.SetStatusText(text.c_str());
  if (!Pause(static_cast<DWORD>(seconds) * m_secondMs)) return false;
  std::string retrying;
  FormatString(retrying, kRetryingFormat, attempt + 1);
  m_splash.SetProgressFormat((retrying + "(%s)...").c_str());
  m_splash.SetStatusText((retrying + "...").c_str());
  return true;
}

bool CLoadFlow::Pause(DWORD milliseconds) const {
  return WaitForSingleObject(m_splash.StopEvent(), milliseconds) == WAIT_TIMEOUT;
}

bool CLoadFlow::Stopped() const { return m_splash.StopRequested(); }

// The bar's text and the box of a failure, with one line for a debugger on why it happened (the
// product writes no log). Returns the button pressed.
int CLoadFlow::Report(EFailure failure, const FailureDetail& detail) {
  const FailureText& text = kFailureTexts[static_cast<int>(failure)];
  std::string line;
  FormatString(line, "velmor: start failed (%s): %s; system error %lu\n", text.kind, detail.why.c_str(),
               detail.systemError);
  OutputDebugStringA(line.c_str());
  if (text.status) m_splash.SetStatusText(text.status);
  return m_splash.ShowMessage(MessageOf(text, detail.shown).c_str(), text.caption, text.type);
}

// Only an explicit Retry goes on: a box that could not be shown (no window, no hook) is a Cancel,
// and so is a box that went with its bar.
bool CLoadFlow::AskRetry(EFailure failure, const std::string& why) {
  if (Stopped()) return false;
  return Report(failure, {why, ""}) == IDRETRY;
}

bool CLoadFlow::Fail(EFailure failure, const FailureDetail& detail) {
  Report(failure, detail);
  return false;
}

void CLoadFlow::ReportProgress(int done, int total, DWORD_PTR splash, int* continueFlag) {
  CSplashWindow* bar = reinterpret_cast<CSplashWindow*>(splash);
  if (bar->StopRequested()) {
    *continueFlag = 0;
    return;
  }
  bar->ReportProgress(done, total);
}

bool DaysSinceBuild(const char* buildTime, const char* buildDate, long long now, long long* days) {
  std::string stamp;
  FormatString(stamp, "%s %s", buildTime, buildDate);
  long long built = 0;
  if (!ParseVariantDate(stamp.c_str(), &built)) return false;
  *days = (now - built) / kSecondsPerDay;
  return true;
}

bool CLoadFlow::LocalLoaderOverride(CByteBuffer& loaderBytes) {
  if (!ExeDirHasFile(kOverrideSwitch) || !ExeDirHasFile(kOverrideLibrary)) return false;
  long long days = 0;
  if (!DaysSinceBuild(kBuildTime, kBuildDate, _time64(nullptr), &days) || days >= kOverrideMaxDays) return false;
  CDataPaths paths;
  const char* path = paths.GetExeDirFilePath(kOverrideLibrary);
  CByteBuffer bytes;
  if (!path || bytes.ReadFromFile(path) <= 0) return false;
  loaderBytes = bytes;
  return true;
}
