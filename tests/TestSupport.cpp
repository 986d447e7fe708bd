#include "TestSupport.h"

#include <windows.h>

#include "base/FileUtil.h"
#include "base/Md5.h"
#include "base/Path.h"
#include "base/TextFormat.h"

CScratchDir::CScratchDir() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof(temp), temp);
  CPath path(temp);
  path.Append(("velmor_test_" + NewGuidText()).c_str());
  path.MakeDirectory();
  m_path = path.c_str();
}

CScratchDir::~CScratchDir() { DeleteTreeBestEffort(m_path.c_str()); }

CByteBuffer Bytes(const std::string& text) { return CByteBuffer(text.data(), static_cast<int>(text.size())); }

std::string Text(const CByteBuffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Length());
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  return Bytes(bytes).WriteToFile(path.c_str(), false) == static_cast<int>(bytes.size());
}

std::string ReadFileBytes(const std::string& path) {
  CByteBuffer buffer;
  if (buffer.ReadFromFile(path.c_str()) <= 0) return std::string();
  return Text(buffer);
}

bool FileExists(const std::string& path) { return CPath(path.c_str()).IsFile(); }

bool DirectoryExists(const std::string& path) { return CPath(path.c_str()).IsDirectory(); }

std::string ExeDirectory() {
  CPath path;
  path.SetToExeDirectory();
  return path.c_str();
}

unsigned long RunProgram(const std::string& commandLine, unsigned long timeoutMs) {
  std::string writable = commandLine;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return kNotStarted;
  }
  CKernelHandle processHandle(process.hProcess), threadHandle(process.hThread);
  if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    return kTimedOut;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  return code;
}

std::string Md5Of(const std::string& bytes) {
  char digest[kMd5HexSize];
  Md5Hex(bytes.data(), bytes.size(), digest);
  return digest;
}
