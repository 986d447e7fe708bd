// Compression for building test inputs (the product only ever inflates): gzip- and zlib-wrapped
// for HTTP bodies, raw deflate for zip entries.
#pragma once

#include <string>

std::string Gzip(const std::string& data);
std::string Zlib(const std::string& data);  // HTTP's "deflate"
std::string RawDeflate(const std::string& data);
