#include "data/ConfigPolicy.h"

#include <windows.h>

#include <ctime>

#include "base/AnsiChars.h"

namespace {

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 name devices in every folder, whatever follows the
// first dot and in any letter case; the system also drops spaces before that dot.
bool IsDeviceName(const std::string& name) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  static const char* const kNumbered[] = {"COM", "LPT"};
  std::string stem = name.substr(0, name.find('.'));
  stem.erase(stem.find_last_not_of(' ') + 1);
  for (const char* device : kDevices) {
    if (lstrcmpiA(stem.c_str(), device) == 0) return true;
  }
  for (const char* prefix : kNumbered) {
    if (stem.size() == 4 && _strnicmp(stem.c_str(), prefix, 3) == 0 && stem[3] >= '1' && stem[3] <= '9') return true;
  }
  return false;
}

volatile LONG g_decodes = 0;

bool LoadCounted(CLoaderConfig& config, const CByteBuffer& bytes, const char* password) {
  InterlockedIncrement(&g_decodes);
  return config.LoadFromMemory(bytes, password, nullptr);
}

// Now as seconds since 1970-01-01T00:00:00Z, by the system clock (time_t has 32 bits here).
long long UtcNow() { return _time64(nullptr); }

}  // namespace

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  // The system drops a trailing dot or space: the file would get another name than the one checked.
  if (name.back() == '.' || name.back() == ' ' || IsDeviceName(name)) return false;
  // Stepping by character: the second byte of a Chinese character may look like a backslash.
  for (const char* p = name.c_str(); *p; p = AnsiChars::Next(p)) {
    if (AnsiChars::Next(p) != p + 1) continue;
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 32 || c == 127 || c == '\\' || c == '/' || c == ':') return false;
  }
  return true;
}

bool CConfigPolicy::Decode(const CByteBuffer& bytes, const char* password, CLoaderConfig& config) const {
  config.RequireSignature(m_publicKey);
  if (!LoadCounted(config, bytes, password)) return false;
  const LoaderFile* file = config.Count() == 1 ? config.At(0) : nullptr;
  // Without a packing there may be no package name at all.
  if (!file || !IsPlainFileName(file->file_name) ||
      (!file->compress_file_name.empty() && !IsPlainFileName(file->compress_file_name))) {
    return false;
  }
  return !IsSigned() || IsCurrent(*file);
}

// A past expiry is a feed frozen by whoever sits on the path. Without one, a signed configuration
// would be good for ever: once the cache that holds the floor is lost, an old pair replayed from
// the network would install and stay.
bool CConfigPolicy::IsCurrent(const LoaderFile& file) {
  unsigned long long serial = 0;
  long long expires = 0;
  if (!file.serial.empty() && !ParseSerial(file.serial, &serial)) return false;
  return ParseUtcTime(file.expires, &expires) && expires > UtcNow();
}

unsigned long long CConfigPolicy::SerialOf(const LoaderFile& file) {
  unsigned long long serial = 0;
  return ParseSerial(file.serial, &serial) ? serial : 0;
}

// A configuration that does not verify (none, or one altered on disk) sets no floor.
unsigned long long CConfigPolicy::FloorSetBy(const CByteBuffer& bytes, const char* password) const {
  if (!IsSigned() || bytes.IsEmpty()) return 0;
  CLoaderConfig config;
  config.RequireSignature(m_publicKey);
  unsigned long long serial = 0;
  if (LoadCounted(config, bytes, password) && config.Count() == 1 && ParseSerial(config.At(0)->serial, &serial)) {
    return serial;
  }
  return 0;
}

long CConfigPolicy::DecodesSoFar() { return InterlockedCompareExchange(&g_decodes, 0, 0); }
