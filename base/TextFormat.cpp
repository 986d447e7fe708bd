#include "base/TextFormat.h"

#include <objbase.h>
#include <oleauto.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/TextConverter.h"

namespace {

constexpr int kFormatAttempts = 11;
constexpr LCID kEnglishUnitedStates = 0x0409;

// Variant dates count days since 30 December 1899; these are 1 January 100 and 31 December 9999.
constexpr double kMinVariantDate = -657434.0;
constexpr double kMaxVariantDate = 2958465.0;
constexpr long kJulianDayOfVariantEpoch = 2415019;
constexpr int kSecondsPerDay = 24 * 60 * 60;
constexpr int kUnixEpochYear = 1970;
constexpr int kLastYear = 9999;

// Gregorian calendar fields of a Julian day number (400-, 100-, 4- and 1-year cycles).
void JulianDayToDate(long julianDay, int* year, int* month, int* day) {
  long a = julianDay + 32044;
  long centuries400 = (4 * a + 3) / 146097;
  long c = a - 146097 * centuries400 / 4;
  long years4 = (4 * c + 3) / 1461;
  long e = c - 1461 * years4 / 4;
  long m = (5 * e + 2) / 153;
  *day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  *month = static_cast<int>(m + 3 - 12 * (m / 10));
  *year = static_cast<int>(100 * centuries400 + years4 - 4800 + m / 10);
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DayOfYear(int year, int month, int day) {
  static const int kDaysBeforeMonth[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  return kDaysBeforeMonth[month - 1] + day - 1 + (month > 2 && IsLeapYear(year) ? 1 : 0);
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

// Leap days in the years before `year` (from year 1).
long long LeapDaysBefore(int year) { return (year - 1) / 4 - (year - 1) / 100 + (year - 1) / 400; }

bool VariantDateToFields(double date, struct tm* fields) {
  if (!(date >= kMinVariantDate && date <= kMaxVariantDate)) return false;
  // Half a second away from zero, so the time of day comes out to the nearest second.
  date += (date >= 0 ? 0.5 : -0.5) / kSecondsPerDay;
  double wholeDays = std::trunc(date);
  int seconds = static_cast<int>(std::fabs(date - wholeDays) * kSecondsPerDay);
  if (seconds >= kSecondsPerDay) seconds = kSecondsPerDay - 1;

  long julianDay = static_cast<long>(wholeDays) + kJulianDayOfVariantEpoch;
  int year, month, day;
  JulianDayToDate(julianDay, &year, &month, &day);

  *fields = {};
  fields->tm_year = year - 1900;
  fields->tm_mon = month - 1;
  fields->tm_mday = day;
  fields->tm_hour = seconds / 3600;
  fields->tm_min = seconds / 60 % 60;
  fields->tm_sec = seconds % 60;
  fields->tm_wday = static_cast<int>((julianDay + 1) % 7);
  fields->tm_yday = DayOfYear(year, month, day);
  return true;
}

}  // namespace

int FormatStringV(std::string& out, const char* format, va_list arguments) {
  out.clear();
  if (!format) return -1;
  size_t capacity = 2 * strlen(format);
  std::vector<char> buffer;
  for (int attempt = 0; attempt < kFormatAttempts; ++attempt) {
    buffer.assign(capacity + 1, '\0');
    va_list copy;
    va_copy(copy, arguments);
    int result = vsnprintf(buffer.data(), capacity, format, copy);
    va_end(copy);
    if (result > 0 && static_cast<size_t>(result) + 1 < capacity) {
      out.assign(buffer.data(), result);
      return result;
    }
    // Our formatter tells the length it needed: grow at least that far, so a long argument
    // cannot exhaust the attempts.
    size_t needed = result > 0 ? static_cast<size_t>(result) + 2 : 0;
    capacity = capacity * 2 > needed ? capacity * 2 : needed;
  }
  return -1;
}

int FormatString(std::string& out, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int result = FormatStringV(out, format, arguments);
  va_end(arguments);
  return result;
}

std::string HexText(const void* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  const uint8_t* in = static_cast<const uint8_t*>(bytes);
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[in[i] >> 4];
    text += kDigits[in[i] & 0x0f];
  }
  return text;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexExact(const std::string& text, uint8_t* out, size_t size) {
  if (text.size() != size * 2) return false;
  for (size_t i = 0; i < size; ++i) {
    int high = HexDigitValue(text[2 * i]);
    int low = HexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

bool UtcSecondsOf(int year, int month, int day, int hour, int minute, int second, long long* seconds) {
  if (year < kUnixEpochYear || year > kLastYear || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59) {
    return false;
  }
  long long days = 365LL * (year - kUnixEpochYear) + LeapDaysBefore(year) - LeapDaysBefore(kUnixEpochYear) +
                   DayOfYear(year, month, day);
  *seconds = days * kSecondsPerDay + hour * 3600LL + minute * 60LL + second;
  return true;
}

std::string NewGuidText() {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return std::string();
  std::string text;
  FormatString(text, "%08lx%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x", guid.Data1, guid.Data2, guid.Data3, guid.Data4[0],
               guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

std::string FormatLocalTime(time_t time) {
  struct tm local;
  if (localtime_s(&local, &time) != 0) return std::string();
  std::string text;
  FormatString(text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
               local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

bool ParseVariantDate(const char* text, long long* out) {
  CTextConverter converter;
  const wchar_t* wide = converter.AnsiToWide(text);
  if (!wide || !*wide || !out) return false;
  OLECHAR* input = const_cast<OLECHAR*>(wide);
  DATE date;
  // A Chinese user locale refuses English month names ("08 Dec 2026 10:00:00"), which cookie
  // dates and build stamps use: such texts get a second chance in US English.
  if (FAILED(VarDateFromStr(input, LOCALE_USER_DEFAULT, 0, &date)) &&
      FAILED(VarDateFromStr(input, kEnglishUnitedStates, 0, &date))) {
    return false;
  }
  struct tm fields;
  if (!VariantDateToFields(date, &fields)) return false;
  fields.tm_isdst = -1;  // let the C runtime decide whether daylight saving applies
  // 64-bit: the 32-bit mktime fails for every date from 2038 on.
  long long time = _mktime64(&fields);
  if (time <= 0) return false;
  *out = time;
  return true;
}
