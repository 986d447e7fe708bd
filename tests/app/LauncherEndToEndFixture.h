// The fixture of the launcher's end-to-end tests: a copy of velmor.exe in a scratch folder that
// reaches a loopback server through a ".Proxy" file, the sample loader's trace, and the request
// logs of the servers the harness started (tests/app/e2e/servers.sh).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "base/ScopedHandle.h"

const std::string kState = VELMOR_E2E_STATE_DIR;
const std::string kPublish = kState + "\\publish";
constexpr char kPassword[] = "e2e-password";
constexpr int kClosedPort = 1;  // nothing listens there: every connection is refused at once

struct Request {
  std::string path;
  std::string ifNoneMatch;  // "" when absent
  int status;
  std::string tls = "";  // the TLS version nginx logged, "" over http (the reference server logs none)
};

std::vector<std::string> Lines(const std::string& path);
// The value of `key` in one JSON log line ("" for null): a string unescaped, a number as written.
std::string JsonValue(const std::string& line, const std::string& key);
int ServerPort(const char* name);
std::string UpperMd5(const std::string& bytes);

// A launcher started without waiting for it; ended by its handle if a test leaves it running.
class CStartedLauncher {
public:
  explicit CStartedLauncher(const std::string& exe);
  ~CStartedLauncher();
  DWORD Id() const { return m_id; }
  bool EndsWithin(DWORD ms) const { return WaitForSingleObject(m_process.Get(), ms) == WAIT_OBJECT_0; }
  DWORD ExitCode() const;

private:
  CKernelHandle m_process;
  DWORD m_id = 0;
};

class LauncherEndToEnd : public ::testing::Test {
protected:
  void SetUp() override;

  static std::string LogOf(const char* server) { return kState + "\\" + server + ".log"; }
  std::string LoaderDir() const { return m_data + "\\cache\\loader"; }

  void UseServer(const char* name) { UsePort(ServerPort(name)); }
  // Runs another build of the launcher (velmor_offline_start.exe, ...) in velmor.exe's place.
  void UseLauncher(const char* built);
  void UsePort(int port) { ASSERT_TRUE(WriteFileBytes(m_exe + ".Proxy", "127.0.0.1\r\n" + std::to_string(port))); }

  // Publishes a library the way an operator does, with velmor-pack: loader.db and the package,
  // into `folder` (the servers' publish folder unless given), the package named loader.<ext> or
  // by its content.
  void Publish(const std::string& library, const char* pack = "zip", const std::string& folder = kPublish,
               const char* password = kPassword, bool contentNamed = false);
  static std::string SampleLibrary() { return ExeDirectory() + "\\loader\\loader.dll"; }
  // The sample library published signed with the tests' key, as an operator does, its record's
  // url in `scheme`.
  void PublishSigned(const std::string& serial, const std::string& folder = kPublish, const char* scheme = "http");

  unsigned long Launch(const std::vector<DialogAnswer>& answers = {}, const std::string& arguments = "");

  // The requests the named server logged since this test began (the log is written after each
  // answer, so a line may trail the launcher's exit by a moment).
  std::vector<Request> Requests(const char* server, size_t atLeast = 0);
  // Only the requests from now on count.
  void ForgetRequests(const char* server) { m_logStart[server] = Lines(LogOf(server)).size(); }

  // The events of the sample library's trace that ran on the launcher's main thread, in order.
  std::vector<std::string> MainThreadEvents() const;
  int CountEvents(const char* event) const;
  bool WorkbenchStarted() const { return CountEvents("start") > 0; }
  // The sample library's entries ran on the launcher's main thread, data first, with our data directory.
  void ExpectWorkbenchStarted();

  CScratchDir m_scratch;
  std::string m_run, m_exe, m_data, m_trace;
  std::map<std::string, size_t> m_logStart;
  std::vector<DialogSeen> m_seen;
};
