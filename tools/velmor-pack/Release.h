// What ties a configuration to its release: packages named by their content, the URL they are
// served under, the expiry of a signed configuration, and the side file that publish.sh (a Linux
// script, no Wine) reads instead of the obfuscated container.
#pragma once

#include <string>

#include "base/ByteBuffer.h"

// The side file is CONFIG + this suffix ("loader.db.release"): lines "md5=" (of CONFIG) and, when
// signed, "serial=" and "expires=".
extern const char kReleaseFileSuffix[];
// How many hexadecimal digits of the package's SHA-256 its name carries: 64 bits, so two packages
// of one site never share a name by chance.
constexpr size_t kContentDigestDigits = 16;

// NAME without its extension (a leading dot starts no extension).
std::string StemOf(const std::string& name);
// NAME's stem, "-", the first digits of the SHA-256 of `bytes`, NAME's extension:
// loader.zip -> loader-3f9a0c1d2e4b5a6f.zip.
std::string ContentName(const std::string& name, const CByteBuffer& bytes);
// The folder `url` names, or the folder of the file it names: up to and with its last '/'.
std::string FolderUrlOf(const std::string& url);

long long UtcSecondsNow();
// "YYYY-MM-DDTHH:MM:SSZ", as the launcher reads "expires".
std::string UtcTimeText(long long seconds);

// Writes CONFIG's side file; an unsigned configuration has empty `serial` and `expires`.
bool WriteReleaseFile(const std::string& configPath, const std::string& serial, const std::string& expires);
