#include <windows.h>

#include <ctime>

#include "tools/velmor-pack/Release.h"

#include "base/PlatformCrypto.h"
#include "base/TextFormat.h"

const char kReleaseFileSuffix[] = ".release";

namespace {

// FILETIME counts 100-nanosecond ticks from 1601-01-01; Unix time counts seconds from 1970.
constexpr unsigned long long kTicksPerSecond = 10000000ULL;
constexpr unsigned long long kTicksFrom1601To1970 = 116444736000000000ULL;

}  // namespace

std::string StemOf(const std::string& name) {
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string ContentName(const std::string& name, const CByteBuffer& bytes) {
  std::string stem = StemOf(name);
  return stem + "-" + Sha256Text(bytes).substr(0, kContentDigestDigits) + name.substr(stem.size());
}

std::string FolderUrlOf(const std::string& url) {
  size_t scheme = url.find("://");
  size_t path = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (path == std::string::npos) return url + "/";  // a host alone names its root
  return url.substr(0, url.find_last_of('/') + 1);
}

// The clock the launcher checks "expires" against.
long long UtcSecondsNow() { return _time64(nullptr); }

std::string UtcTimeText(long long seconds) {
  unsigned long long ticks = static_cast<unsigned long long>(seconds) * kTicksPerSecond + kTicksFrom1601To1970;
  FILETIME time = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc;
  if (!FileTimeToSystemTime(&time, &utc)) return "";
  std::string text;
  FormatString(text, "%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute,
               utc.wSecond);
  return text;
}

bool WriteReleaseFile(const std::string& configPath, const std::string& serial, const std::string& expires) {
  CByteBuffer config;
  if (config.ReadFromFile(configPath.c_str()) <= 0) return false;
  // "\n" only, whatever the platform: a Linux script reads it.
  std::string text = "md5=" + Md5Text(config) + "\n";
  if (!serial.empty()) text += "serial=" + serial + "\nexpires=" + expires + "\n";
  CByteBuffer bytes(text.data(), static_cast<int>(text.size()));
  std::string path = configPath + kReleaseFileSuffix;
  return bytes.WriteToFile(path.c_str(), false) == bytes.Length();
}
