#include "net/HttpResponse.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/TextConverter.h"

namespace {

const char kHeadEnd[] = "\r\n\r\n";
const char kLineEnd[] = "\r\n";
constexpr int kMaxChunkSizeDigits = 8;
constexpr int kInflateWindowBits = 15 + 32;  // zlib or gzip header, detected
constexpr int kInflateChunk = 1024;
constexpr int kGzipTrailerSize = 18;  // the smallest gzip stream: 10-byte header, 8-byte trailer

int HeadEndIndex(const CByteBuffer& response) { return response.Find(kHeadEnd, 4, 0); }

// Content-Length and Transfer-Encoding read from already parsed headers, so each question about
// a response parses its head once.
bool LengthOf(const HttpHeaders& headers, long long* length) {
  const std::string* value = FindHeader(headers, "Content-Length");
  if (!value) return false;
  const char* text = value->c_str();
  while (isspace(static_cast<unsigned char>(*text))) ++text;
  if (!isdigit(static_cast<unsigned char>(*text))) return false;
  *length = _strtoi64(text, nullptr, 10);
  return true;
}

bool ChunkedOf(const HttpHeaders& headers) {
  const std::string* value = FindHeader(headers, "Transfer-Encoding");
  return value && AsciiLower(*value).find("chunked") != std::string::npos;
}

// A chunk-size line: spaces trimmed, at most 8 hexadecimal digits; anything unreadable is 0.
unsigned long ChunkSize(const BYTE* line, int length) {
  std::string text(reinterpret_cast<const char*>(line), length);
  size_t first = text.find_first_not_of(' ');
  size_t last = text.find_last_not_of(' ');
  if (first == std::string::npos) return 0;
  text = text.substr(first, last - first + 1);
  if (text.size() > static_cast<size_t>(kMaxChunkSizeDigits)) return 0;
  return strtoul(text.c_str(), nullptr, 16);
}

int FindLineEnd(const BYTE* data, int from, int length) {
  for (int i = from; i + 1 < length; ++i) {
    if (data[i] == '\r' && data[i + 1] == '\n') return i;
  }
  return -1;
}

}  // namespace

bool HasHeadEnd(const CByteBuffer& response) { return HeadEndIndex(response) >= 0; }

bool GetContentLength(const CByteBuffer& response, long long* length) {
  return LengthOf(ParseResponseHeaders(response), length);
}

bool IsChunked(const CByteBuffer& response) { return ChunkedOf(ParseResponseHeaders(response)); }

bool IsCloseDelimited(const CByteBuffer& response) {
  HttpHeaders headers = ParseResponseHeaders(response);
  long long length;
  return HasHeadEnd(response) && !LengthOf(headers, &length) && !ChunkedOf(headers);
}

bool IsResponseComplete(const CByteBuffer& response) {
  int headEnd = HeadEndIndex(response);
  if (headEnd < 0) return false;
  int bodyStart = headEnd + 4;
  HttpHeaders headers = ParseResponseHeaders(response);
  long long length;
  if (LengthOf(headers, &length)) return response.Length() - bodyStart == length;
  if (ChunkedOf(headers)) return ChunksComplete(response.Data() + bodyStart, response.Length() - bodyStart);
  return false;
}

std::string GetResponseHead(const CByteBuffer& response) {
  int headEnd = HeadEndIndex(response);
  std::string head = headEnd < 0 ? "" : std::string(reinterpret_cast<const char*>(response.Data()), headEnd);
  return head + kLineEnd;
}

int GetStatusCode(const CByteBuffer& response) {
  std::string head = GetResponseHead(response);
  size_t lineEnd = head.find(kLineEnd);
  if (lineEnd == std::string::npos || lineEnd == 0) return -1;
  std::string line = head.substr(0, lineEnd);
  size_t space = line.find(' ');
  if (space == std::string::npos || space == 0) return -1;
  std::string rest = line.substr(space + 1);
  size_t next = rest.find(' ');
  if (next == std::string::npos || next == 0) return -1;
  return atoi(rest.substr(0, next).c_str());
}

HttpHeaders ParseResponseHeaders(const CByteBuffer& response) {
  HttpHeaders headers;
  std::string head = GetResponseHead(response);
  size_t position = head.find(kLineEnd);
  if (position == std::string::npos) return headers;
  position += 2;
  for (;;) {
    size_t lineEnd = head.find(kLineEnd, position);
    if (lineEnd == std::string::npos || lineEnd == position) break;
    std::string line = head.substr(position, lineEnd - position);
    size_t colon = line.find(':');
    std::string name = line.substr(0, colon);
    std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' ') == std::string::npos ? value.size() : value.find_first_not_of(' '));
    headers.emplace_back(name, value);
    position = lineEnd + 2;
  }
  return headers;
}

const std::string* FindHeader(const HttpHeaders& headers, const char* name) {
  for (const auto& header : headers) {
    if (_stricmp(header.first.c_str(), name) == 0) return &header.second;
  }
  return nullptr;
}

bool ChunksComplete(const BYTE* body, int length, int* position) {
  int walked = position ? *position : 0;
  for (;;) {
    if (position) *position = walked;
    int lineEnd = FindLineEnd(body, walked, length);
    if (lineEnd < 0) return false;
    unsigned long size = ChunkSize(body + walked, lineEnd - walked);
    int dataStart = lineEnd + 2;
    if (size == 0 && length - dataStart == 2 && body[dataStart] == '\r' && body[dataStart + 1] == '\n') return true;
    // The data and the CRLF after it must both be in; until then this chunk is walked again.
    if (size > static_cast<unsigned long>(length - dataStart) || length - dataStart - static_cast<int>(size) < 2) {
      return false;
    }
    walked = dataStart + static_cast<int>(size) + 2;
  }
}

CByteBuffer Dechunk(const BYTE* body, int length) {
  CByteBuffer joined(length);
  int position = 0;
  // Unlike the completeness check, the walk goes on past a zero-size chunk until no CRLF is left.
  for (;;) {
    int lineEnd = FindLineEnd(body, position, length);
    if (lineEnd < 0) break;
    unsigned long size = ChunkSize(body + position, lineEnd - position);
    position = lineEnd + 2;
    int take = static_cast<int>(std::min<unsigned long>(size, static_cast<unsigned long>(length - position)));
    joined.Append(body + position, take);
    position += take;
    position = std::min(position + 2, length);
  }
  return joined;
}

// A gzip stream ends with its uncompressed size (modulo 2^32): reserving that up front spares
// the copies of a growing output. Only a hint: a wrong one costs nothing but the reservation.
int CGzipInflater::SizeHint(const CByteBuffer& input) {
  if (input.Length() < kGzipTrailerSize) return 0;
  const BYTE* size = input.Data() + input.Length() - 4;
  unsigned long hint = size[0] | (size[1] << 8) | (size[2] << 16) | (static_cast<unsigned long>(size[3]) << 24);
  return hint > static_cast<unsigned long>(kMaxInflatedBytes) ? 0 : static_cast<int>(hint);
}

bool CGzipInflater::Inflate(const CByteBuffer& input, CByteBuffer& output) {
  z_stream stream = {};
  if (inflateInit2(&stream, kInflateWindowBits) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(input.Data());
  stream.avail_in = static_cast<uInt>(input.Length());
  CByteBuffer produced;
  produced.Reserve(SizeHint(input));
  bool ok = true;
  while (stream.avail_in > 0) {
    // Each step inflates into the next 1024 bytes of the output itself. A body that would
    // inflate past the limit is left as it came.
    if (!produced.ReserveMore(kInflateChunk, kMaxInflatedBytes + kInflateChunk)) {
      ok = false;
      break;
    }
    int length = produced.Length();
    stream.next_out = produced.Data() + length;
    stream.avail_out = kInflateChunk;
    int result = inflate(&stream, Z_SYNC_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) {
      ok = false;
      break;
    }
    produced.SetLength(length + kInflateChunk - static_cast<int>(stream.avail_out));
    if (produced.Length() > kMaxInflatedBytes) {
      ok = false;
      break;
    }
    if (result == Z_STREAM_END) break;
  }
  inflateEnd(&stream);
  if (ok) output = produced;
  return ok;
}

CByteBuffer GetResponseBody(const CByteBuffer& response, HttpHeaders* headersOut) {
  int headEnd = HeadEndIndex(response);
  int bodyStart = headEnd < 0 ? response.Length() : headEnd + 4;
  const BYTE* rawBody = response.Data() + bodyStart;
  int rawLength = response.Length() - bodyStart;
  HttpHeaders headers = ParseResponseHeaders(response);
  // Chunks are joined straight from the response: a large body is copied once, not twice.
  bool dechunk = ChunkedOf(headers) && ChunksComplete(rawBody, rawLength);
  CByteBuffer body = dechunk ? Dechunk(rawBody, rawLength) : CByteBuffer(rawBody, rawLength);

  const std::string* encoding = FindHeader(headers, "Content-Encoding");
  if (encoding && AsciiLower(*encoding).find("gzip") != std::string::npos) {
    CByteBuffer inflated;
    if (CGzipInflater().Inflate(body, inflated)) body = inflated;
  }
  const std::string* type = FindHeader(headers, "Content-Type");
  std::string lowerType = type ? AsciiLower(*type) : "";
  if (lowerType.find("text/html") != std::string::npos) {
    size_t charset = lowerType.find("charset=");
    if (charset != std::string::npos && lowerType.substr(charset + 8) == "utf-8") {
      std::string text(reinterpret_cast<const char*>(body.Data()), body.Length());
      CTextConverter converter;
      if (const char* ansi = converter.Utf8ToAnsi(text.c_str()))
        body = CByteBuffer(ansi, static_cast<int>(strlen(ansi)));
    }
  }
  if (headersOut) *headersOut = std::move(headers);
  return body;
}

std::string GetResponseText(const CByteBuffer& response) {
  CByteBuffer body = GetResponseBody(response);
  const char* text = reinterpret_cast<const char*>(body.Data());
  return std::string(text, strnlen(text, body.Length()));
}
