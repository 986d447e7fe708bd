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
