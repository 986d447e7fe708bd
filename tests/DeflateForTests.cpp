#include "DeflateForTests.h"

#include <zlib.h>

namespace {

constexpr int kGzipWindowBits = 15 + 16;
constexpr int kZlibWindowBits = 15;
constexpr int kRawWindowBits = -15;

std::string Deflate(const std::string& data, int windowBits) {
  z_stream stream = {};
  deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

}  // namespace

std::string Gzip(const std::string& data) { return Deflate(data, kGzipWindowBits); }

std::string Zlib(const std::string& data) { return Deflate(data, kZlibWindowBits); }

std::string RawDeflate(const std::string& data) { return Deflate(data, kRawWindowBits); }
