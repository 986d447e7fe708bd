#include "base/TextConverter.h"

#include <windows.h>

namespace {

// Two passes, sizing then converting; a second pass of another length is a failure.
bool MultiByteToWide(UINT codePage, const char* text, std::wstring& out) {
  int size = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
  if (size <= 0) return false;
  out.assign(size, L'\0');
  if (MultiByteToWideChar(codePage, 0, text, -1, &out[0], size) != size) return false;
  out.resize(size - 1);
  return true;
}

bool WideToMultiByte(UINT codePage, const wchar_t* text, int length, std::string& out) {
  int size = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  out.assign(size, '\0');
  if (WideCharToMultiByte(codePage, 0, text, length, &out[0], size, nullptr, nullptr) != size) return false;
  if (length == -1) out.resize(size - 1);  // the terminator was converted too
  return true;
}

void AppendJsonEscaped(std::string& out, wchar_t unit) {
  static const char kHexDigits[] = "0123456789abcdef";
  switch (unit) {
    case 8: out += "\\b"; return;
    case 9: out += "\\t"; return;
    case 10: out += "\\n"; return;
    case 12: out += "\\f"; return;
    case 13: out += "\\r"; return;
    case '"': out += "\\\""; return;
    case '/': out += "\\/"; return;
    case '\\': out += "\\\\"; return;
  }
  if (unit >= 32 && unit <= 127) {
    out += static_cast<char>(unit);
    return;
  }
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHexDigits[(unit >> shift) & 15];
}

}  // namespace

const wchar_t* CTextConverter::SetWide(std::wstring&& wide) {
  m_narrow.clear();
  m_wide = std::move(wide);
  return m_wide.c_str();
}

const char* CTextConverter::SetNarrow(std::string&& narrow) {
  m_wide.clear();
  m_narrow = std::move(narrow);
  return m_narrow.c_str();
}

std::nullptr_t CTextConverter::Fail() {
  m_wide.clear();
  m_narrow.clear();
  return nullptr;
}

const wchar_t* CTextConverter::AnsiToWide(const char* text) {
  if (!text) return Fail();
  std::wstring wide;
  if (*text && !MultiByteToWide(CP_ACP, text, wide)) return Fail();
  return SetWide(std::move(wide));
}

const char* CTextConverter::WideToAnsi(const wchar_t* text, int length) {
  if (!text || !*text) return Fail();
  std::string narrow;
  if (!WideToMultiByte(CP_ACP, text, length <= 0 ? -1 : length, narrow)) return Fail();
  return SetNarrow(std::move(narrow));
}

const wchar_t* CTextConverter::Utf8ToWide(const char* text) {
  if (!text || !*text) return Fail();
  std::wstring wide;
  if (!MultiByteToWide(CP_UTF8, text, wide)) return Fail();
  return SetWide(std::move(wide));
}

const char* CTextConverter::WideToUtf8(const wchar_t* text) {
  if (!text || !*text) return Fail();
  std::string narrow;
  if (!WideToMultiByte(CP_UTF8, text, -1, narrow)) return Fail();
  return SetNarrow(std::move(narrow));
}

const char* CTextConverter::Utf8ToAnsi(const char* text) {
  if (!Utf8ToWide(text)) return nullptr;
  std::wstring wide = m_wide;
  return WideToAnsi(wide.c_str());
}

const char* CTextConverter::AnsiToUtf8(const char* text) {
  if (!text || !*text || !AnsiToWide(text)) return Fail();
  std::wstring wide = m_wide;
  return WideToUtf8(wide.c_str());
}

const char* CTextConverter::JsonEscape(const char* text) {
  std::wstring wide;
  if (text && *text && !MultiByteToWide(CP_ACP, text, wide)) wide.clear();
  std::string escaped;
  escaped.reserve(wide.size() + 2);
  for (wchar_t unit : wide) AppendJsonEscaped(escaped, unit);
  return SetNarrow(std::move(escaped));
}

std::string JsonQuote(const char* text) {
  CTextConverter converter;
  return std::string("\"") + converter.JsonEscape(text) + "\"";
}

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

namespace {

// What a lead byte starts: the sequence's length (0 for a byte that cannot start one) and the
// smallest code point that length may carry (anything less is an overlong form).
struct Utf8Sequence {
  int length;
  unsigned long smallest;
};

Utf8Sequence SequenceOf(unsigned char lead) {
  if (lead < 0x80) return {1, 0};
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80};
  if (lead >= 0xE0 && lead <= 0xEF) return {3, 0x800};
  if (lead >= 0xF0 && lead <= 0xF4) return {4, 0x10000};
  return {0, 0};
}

}  // namespace

bool IsValidUtf8(const std::string& text) { return IsValidUtf8(text.data(), text.size()); }

bool IsValidUtf8(const char* data, size_t length) {
  constexpr unsigned long kLargest = 0x10FFFF;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
  const unsigned char* end = p + length;
  while (p < end) {
    auto [length, smallest] = SequenceOf(*p);
    if (length == 0 || end - p < length) return false;
    unsigned long code = length == 1 ? *p : *p & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      code = code << 6 | (p[i] & 0x3F);
    }
    if (code < smallest || code > kLargest || (code >= 0xD800 && code <= 0xDFFF)) return false;
    p += length;
  }
  return true;
}
