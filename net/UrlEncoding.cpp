#include "net/UrlEncoding.h"

#include <windows.h>

#include <cstdio>

#include "base/TextConverter.h"

namespace {

bool IsAlphaNumeric(wchar_t unit) {
  return (unit >= L'0' && unit <= L'9') || (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z');
}

// One UTF-16 code unit alone in the given code page.
std::string UnitBytes(wchar_t unit, UINT codePage) {
  char bytes[8];
  int length = WideCharToMultiByte(codePage, 0, &unit, 1, bytes, sizeof(bytes), nullptr, nullptr);
  return std::string(bytes, length > 0 ? length : 0);
}

void AppendEscaped(std::string& out, unsigned value) {
  char escape[4];
  snprintf(escape, sizeof(escape), "%%%02X", value & 0xff);
  out += escape;
}

std::string UrlEncode(const char* text, UINT wideCodePage) {
  CTextConverter converter;
  const wchar_t* wide = converter.AnsiToWide(text);
  std::string out;
  for (; wide && *wide; ++wide) {
    wchar_t unit = *wide;
    if (IsAlphaNumeric(unit)) {
      out += static_cast<char>(unit);
    } else if (unit < 256) {
      AppendEscaped(out, unit);
    } else {
      for (char byte : UnitBytes(unit, wideCodePage)) AppendEscaped(out, static_cast<unsigned char>(byte));
    }
  }
  return out;
}

}  // namespace

std::string UrlEncodeUtf8(const char* text) { return UrlEncode(text, CP_UTF8); }

std::string UrlEncodeAnsi(const char* text) { return UrlEncode(text, CP_ACP); }

std::string AnsiToUtf8Chars(const char* text) {
  CTextConverter converter;
  const wchar_t* wide = converter.AnsiToWide(text);
  std::string out;
  for (; wide && *wide; ++wide) {
    out += *wide < 256 ? std::string(1, static_cast<char>(*wide)) : UnitBytes(*wide, CP_UTF8);
  }
  return out;
}
