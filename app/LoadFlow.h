// The worker thread's job while the splash bar is shown: fetch and check the loader
// configuration, make sure the loader library it names is present and intact (downloading and
// unpacking it when needed) and load it. Every step reports on the bar; network failures are
// retried with a countdown and then offered to the user for another round. When the bar goes
// away, its stop event ends every wait of the flow, and the flow ends without a word.
#pragma once

#include <windows.h>

#include <ctime>
#include <string>

#include "BuildConfig.h"
#include "base/ByteBuffer.h"

class CModuleLoader;
class CSplashWindow;
struct LoaderFile;

class CLoadFlow {
public:
  // One second of the flow's pauses: the countdowns of 3, 5 and 8 seconds and the retry text.
  static constexpr DWORD kSecondMs = 1000;

  // With `offlineStart`, a first round of configuration attempts that found no server is
  // followed by the cached configuration, when the loader it names is installed and intact.
  // `secondMs` shortens the pauses for tests; the texts still count seconds.
  CLoadFlow(CSplashWindow& splash, CModuleLoader& loader, bool offlineStart = BuildConfig::kOfflineStart,
            DWORD secondMs = kSecondMs);

  bool RunLoadFlow();
  bool UpdateLoader(CByteBuffer& loaderBytes);
  bool DownloadConfigWithRetry(CByteBuffer& config);
  // `config`: the bytes the record was parsed from, parsed again should a fresh copy be refused.
  bool DownloadLoaderWithRetry(const CByteBuffer& config, CByteBuffer& packed);

  // The HTTP client's progress callback: the percentage on the bar given as context; a stopped
  // bar cancels the download.
  static void ReportProgress(int done, int total, DWORD_PTR splash, int* continueFlag);
  // "update.ini" and "loader.dll" beside the executable of a build less than 10 days old: that
  // library is used as it is (a developer's shortcut).
  static bool LocalLoaderOverride(CByteBuffer& loaderBytes);

  // Every way a start can fail that reaches the user, in the order of the flow.
  enum class EFailure { kConfigNetwork, kConfigRefused, kLoaderNetwork, kUnpack, kWrite, kLoad };

private:
  struct FailureDetail {
    std::string why;        // for a developer: what failed, on what
    std::string shown;      // what the message shows of it (the load's reason), or empty
    DWORD systemError = 0;  // the system's error code, when there is one
  };

  bool RunSteps();
  bool FetchConfig(CByteBuffer& config);
  bool FetchPackage(const CByteBuffer& config, CByteBuffer& packed);
  void RefreshConfig(const CByteBuffer& config);
  bool Install(const LoaderFile& file, const CByteBuffer& packed, CByteBuffer& loaderBytes);
  bool ServerUnreachable() const;
  bool UseCachedConfig(CByteBuffer& config);
  bool KeepLastGoodConfig(CByteBuffer& config);
  bool LastGoodConfig(CByteBuffer& config);
  bool CountDown(int seconds, int attempt);
  bool Pause(DWORD milliseconds) const;  // false when the flow was told to stop
  bool Stopped() const;
  int Report(EFailure failure, const FailureDetail& detail);
  bool AskRetry(EFailure failure, const std::string& why);
  bool Fail(EFailure failure, const FailureDetail& detail);

  CSplashWindow& m_splash;
  CModuleLoader& m_loader;
  bool m_offlineStart;
  DWORD m_secondMs;
  int m_configStatus = -1;  // of the last configuration attempt; -1: no answer came
  // The last package attempt brought a package that failed its digests: the next one asks for
  // the configuration first.
  bool m_packageMismatched = false;
};

// Whole days (toward zero) from the build stamp (__TIME__ and __DATE__, read as local time) to
// `now` (seconds since 1970, 64-bit: the rule must not lapse in 2038); false when the stamp cannot
// be read.
bool DaysSinceBuild(const char* buildTime, const char* buildDate, long long now, long long* days);
