// printf-style formatting into strings, hexadecimal, GUID and local-time texts, and variant-date
// parsing.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// The formatted length, or -1 with an empty `out` when formatting fails (an empty result
// counts as a failure, as callers never format to nothing on purpose).
int FormatString(std::string& out, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
int FormatStringV(std::string& out, const char* format, va_list arguments);

// Bytes as lowercase hexadecimal text, two digits each (the form of every digest we publish).
std::string HexText(const void* bytes, size_t size);
// The value of one hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c);
// `text` read back into `size` bytes: exactly 2 * `size` digits of either case, nothing else.
bool ParseHexExact(const std::string& text, uint8_t* out, size_t size);

// Seconds from 1970-01-01T00:00:00Z to a UTC time of the Gregorian calendar; false for a field
// out of range (a 30 February, a minute of 60) or a year before 1970 or after 9999.
bool UtcSecondsOf(int year, int month, int day, int hour, int minute, int second, long long* seconds);

// A new GUID as 32 lowercase hexadecimal digits, no separators; empty if none can be made.
std::string NewGuidText();

// "YYYY-MM-DD hh:mm:ss" in local time; empty for a time the C runtime cannot break down.
std::string FormatLocalTime(time_t time);

// A date-time text (ANSI) in any form the system's variant-date parser takes, as seconds since
// 1970 (64-bit, so dates from 2038 on read too).
bool ParseVariantDate(const char* text, long long* out);
