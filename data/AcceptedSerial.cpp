#include "data/AcceptedSerial.h"

#include <string>

#include "data/LoaderConfig.h"
#include "data/Registry.h"

namespace AcceptedSerial {

const char kKeyPath[] = "HKEY_CURRENT_USER\\Software\\Velmor";
const char kValueName[] = "HighestSerial";

namespace {

// 2^64 - 1 has 20 digits; ParseSerial allows leading zeros up to that width.
constexpr DWORD kSerialTextBytes = 21;

}  // namespace

unsigned long long Read() {
  char text[kSerialTextBytes];
  unsigned long long serial = 0;
  if (!RegGetStringValue(kKeyPath, kValueName, text, sizeof(text)) || !ParseSerial(text, &serial)) return 0;
  return serial;
}

bool Raise(unsigned long long serial) {
  if (serial <= Read()) return true;
  return RegCreateKeyPath(kKeyPath) && RegSetStringValue(kKeyPath, kValueName, std::to_string(serial).c_str());
}

}  // namespace AcceptedSerial
