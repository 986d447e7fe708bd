#include "base/Base64.h"

#include <cstring>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string EncodeBase64(const uint8_t* bytes, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; i += 3) {
    unsigned int group = bytes[i] << 16 | (i + 1 < size ? bytes[i + 1] << 8 : 0) | (i + 2 < size ? bytes[i + 2] : 0);
    for (size_t k = 0; k < 4; ++k) text += i + k <= size ? kAlphabet[group >> (18 - 6 * k) & 0x3f] : '=';
  }
  return text;
}

bool DecodeBase64(const std::string& text, std::vector<uint8_t>& out) {
  unsigned int bits = 0;
  int count = 0;
  bool padded = false;
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    if (c == '=') {
      padded = true;
      continue;
    }
    const char* at = strchr(kAlphabet, c);
    if (padded || !at || !c) return false;
    bits = bits << 6 | static_cast<unsigned int>(at - kAlphabet);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<uint8_t>(bits >> count));
    }
  }
  return true;
}
