// printf-style formatting into strings, GUID and local-time texts, and variant-date parsing.
#pragma once

#include <cstdarg>
#include <ctime>
#include <string>

// The formatted length, or -1 with an empty `out` when formatting fails (an empty result
// counts as a failure, as callers never format to nothing on purpose).
int FormatString(std::string& out, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
int FormatStringV(std::string& out, const char* format, va_list arguments);

// A new GUID as 32 lowercase hexadecimal digits, no separators; empty if none can be made.
std::string NewGuidText();

// "YYYY-MM-DD hh:mm:ss" in local time; empty for a time the C runtime cannot break down.
std::string FormatLocalTime(time_t time);

// A date-time text (ANSI) in any form the system's variant-date parser takes, as a time_t.
bool ParseVariantDate(const char* text, time_t* out);
