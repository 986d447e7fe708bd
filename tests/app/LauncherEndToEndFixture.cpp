#include "LauncherEndToEndFixture.h"

#include <algorithm>
#include <fstream>

#include "BuildConfig.h"
#include "LoaderConfigImages.h"
#include "TestSigningKey.h"
#include "base/FileUtil.h"
#include "base/Path.h"

// The JSON string value of `key` in one log line ("" for null), with \" unescaped.
std::string JsonValue(const std::string& line, const std::string& key) {
  size_t at = line.find("\"" + key + "\": ");
  if (at == std::string::npos) return "";
  at += key.size() + 4;
  if (line[at] != '"') {
    std::string raw = line.substr(at, line.find_first_of(",}", at) - at);
    return raw == "null" ? "" : raw;
  }
  std::string value;
  for (size_t i = at + 1; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\') ++i;
    value += line[i];
  }
  return value;
}

namespace {

std::string TraceField(const std::string& line, const std::string& name) {
  size_t at = line.find(" " + name + "=");
  if (at == std::string::npos) return "";
  at += name.size() + 2;
  return line.substr(at, line.find(' ', at) - at);
}

}  // namespace

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

int ServerPort(const char* name) { return std::stoi(ReadFileBytes(kState + "\\" + name + ".port")); }

std::string UpperMd5(const std::string& bytes) {
  std::string digest = Md5Of(bytes);
  std::transform(digest.begin(), digest.end(), digest.begin(), ::toupper);
  return digest;
}

CStartedLauncher::CStartedLauncher(const std::string& exe) {
  std::string command = "\"" + exe + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return;
  m_process.Reset(info.hProcess);
  CloseHandle(info.hThread);
  m_id = info.dwProcessId;
}

CStartedLauncher::~CStartedLauncher() {
  if (m_process.IsValid() && !EndsWithin(0)) TerminateProcess(m_process.Get(), 1);
}

DWORD CStartedLauncher::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(m_process.Get(), &code);
  return code;
}

void LauncherEndToEnd::SetUp() {
  m_run = m_scratch.File("launcher run");
  m_exe = m_run + "\\velmor.exe";
  m_data = m_run + "\\velmor files";
  m_trace = m_scratch.File("trace.txt");
  ASSERT_TRUE(CPath(m_data.c_str()).MakeDirectory());
  ASSERT_TRUE(CopyFileA((ExeDirectory() + "\\velmor.exe").c_str(), m_exe.c_str(), FALSE));
  ASSERT_TRUE(WriteFileBytes(m_data + "\\setup.ini", ""));  // the first-run question is settled
  UseServer("normal");
  SetEnvironmentVariableA("VELMOR_LOADER_TRACE", m_trace.c_str());
  SetEnvironmentVariableA("VELMOR_LOADER_AUTOCLOSE_MS", "300");
  SetEnvironmentVariableA("VELMOR_TEST_FAULT", nullptr);
  ForgetAcceptedSerial();
  for (const char* name : {"normal", "failing", "broken", "site", "site-slow", "nginx", "nginx-slow"})
    ForgetRequests(name);
  DeleteTreeBestEffort(kPublish.c_str());
  CPath(kPublish.c_str()).MakeDirectory();
}

void LauncherEndToEnd::UseLauncher(const char* built) {
  ASSERT_TRUE(CopyFileA((ExeDirectory() + "\\" + built).c_str(), m_exe.c_str(), FALSE));
}

namespace {

// velmor-pack's command line for a library and its package, written into `folder`.
std::string PackCommand(const std::string& library, const char* pack, const std::string& folder, const char* password,
                        const char* scheme = "http", bool contentNamed = false) {
  std::string extension = std::string(pack) == "zip" ? "zip" : "vdb";
  std::string url = std::string(scheme) + "://config." + BuildConfig::kProductDomain + "/loader." + extension;
  return "\"" + ExeDirectory() + "\\velmor-pack.exe\" config --file \"" + library + "\" --url " + url + " --pack " +
         pack + (contentNamed ? "" : " --packed-name loader." + extension) + " --password " + password +
         " --desc e2e --out \"" + folder +
         "\\loader.db\"";
}

}  // namespace

void LauncherEndToEnd::Publish(const std::string& library, const char* pack, const std::string& folder,
                               const char* password, bool contentNamed) {
  ASSERT_EQ(0u, RunProgram(PackCommand(library, pack, folder, password, "http", contentNamed)));
}

void LauncherEndToEnd::PublishSigned(const std::string& serial, const std::string& folder, const char* scheme) {
  ASSERT_EQ(0u, RunProgram(PackCommand(SampleLibrary(), "zip", folder, kPassword, scheme) + " --sign \"" +
                           ExeDirectory() + "\\" + TestSigningKey::kPemFileName + "\" --serial " + serial +
                           " --expires 2999-01-01T00:00:00Z"));
}

unsigned long LauncherEndToEnd::Launch(const std::vector<DialogAnswer>& answers, const std::string& arguments) {
  m_seen.clear();
  return RunProgramAnswering("\"" + m_exe + "\" " + arguments, answers, &m_seen, 120000);
}

std::vector<Request> LauncherEndToEnd::Requests(const char* server, size_t atLeast) {
  std::vector<Request> requests;
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::vector<std::string> lines = Lines(LogOf(server));
    size_t start = m_logStart[server];
    requests.clear();
    for (size_t i = start; i < lines.size(); ++i) {
      requests.push_back({JsonValue(lines[i], "path"), JsonValue(lines[i], "if_none_match"),
                          atoi(JsonValue(lines[i], "status").c_str()), JsonValue(lines[i], "tls")});
    }
    if (requests.size() >= atLeast) break;
    Sleep(100);
  }
  return requests;
}

std::vector<std::string> LauncherEndToEnd::MainThreadEvents() const {
  std::vector<std::string> events;
  for (const std::string& line : Lines(m_trace)) {
    if (TraceField(line, "thread") == TraceField(line, "main_thread")) events.push_back(line.substr(0, line.find(' ')));
  }
  return events;
}

int LauncherEndToEnd::CountEvents(const char* event) const {
  std::vector<std::string> events = MainThreadEvents();
  return static_cast<int>(std::count(events.begin(), events.end(), event));
}

void LauncherEndToEnd::ExpectWorkbenchStarted() {
  std::vector<std::string> events = MainThreadEvents();
  ASSERT_GE(events.size(), 2u) << ReadFileBytes(m_trace);
  EXPECT_EQ("data_config", events[0]);
  EXPECT_EQ("start", events[1]);
  EXPECT_NE(std::string::npos, ReadFileBytes(m_trace).find("data=" + m_data)) << ReadFileBytes(m_trace);
}
