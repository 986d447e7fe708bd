#include "net/HttpSideFiles.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

#include "base/Path.h"
#include "base/TextFormat.h"
#include "net/HttpLines.h"

namespace {

const char kProxySuffix[] = ".Proxy";
const char kDebugSwitchSuffix[] = ".Debug.Data";
const char kDebugFileFormat[] = "%s.DebugData_%d_%04d_%02d_%02d %02d_%02d_%02d_%03d.dat";
constexpr int kMaxPort = 65535;

volatile LONG g_debugFileCounter = -1;

bool IsSwitchedOn(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  return (attributes & FILE_ATTRIBUTE_ARCHIVE) != 0;
}

}  // namespace

bool ReadProxyFile(std::string* host, int* port) {
  std::string path = ExecutablePath() + kProxySuffix;
  if (!IsSwitchedOn(path)) return false;
  CByteBuffer content;
  if (content.ReadFromFile(path.c_str()) < 0) return false;
  std::string text(reinterpret_cast<const char*>(content.Data()), content.Length());
  size_t lineEnd = text.find(kLineEnd);
  if (lineEnd == std::string::npos || lineEnd == 0) return false;
  const char* number = text.c_str() + lineEnd + kLineEndLength;
  while (isspace(static_cast<unsigned char>(*number))) ++number;
  long value = strtol(number, nullptr, 10);
  // A port the connection cannot use is as malformed as none.
  if (!isdigit(static_cast<unsigned char>(*number)) || value < 1 || value > kMaxPort) return false;
  *host = text.substr(0, lineEnd);
  *port = static_cast<int>(value);
  return true;
}

bool IsHttpDebugOn() { return IsSwitchedOn(ExecutablePath() + kDebugSwitchSuffix); }

std::string NewDebugFileName() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  int counter = static_cast<int>(InterlockedIncrement(&g_debugFileCounter));
  std::string name;
  FormatString(name, kDebugFileFormat, ExecutablePath().c_str(), counter, now.wYear, now.wMonth, now.wDay, now.wHour,
               now.wMinute, now.wSecond, now.wMilliseconds);
  return name;
}

void WriteDebugFile(std::string& name, const CByteBuffer& bytes) {
  if (name.empty()) name = NewDebugFileName();
  bytes.WriteToFile(name.c_str(), false);
}
