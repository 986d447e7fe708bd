#include "net/HttpResponse.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/TextConverter.h"
#include "net/ChunkDecoder.h"
#include "net/HttpLines.h"

namespace {

constexpr int kInflateWindowBits = 15 + 32;  // zlib or gzip header, detected
constexpr int kInflateChunk = 1024;
constexpr int kGzipTrailerSize = 18;          // the smallest gzip stream: 10-byte header, 8-byte trailer
constexpr long long kMaxDeflateRatio = 1032;  // the most deflate can expand one byte to
constexpr int kStatusNoContent = 204;
constexpr int kStatusNotModified = 304;

int HeadEndIndex(const CByteBuffer& response, int from = 0) { return response.Find(kHeadEnd, kHeadEndLength, from); }

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

// What a head says about its body, from its already parsed headers.
ResponseFraming FramingOf(const CByteBuffer& head, const HttpHeaders& headers) {
  ResponseFraming framing;
  framing.status = GetStatusCode(head);
  framing.noBody = (framing.status >= 100 && framing.status < 200) || framing.status == kStatusNoContent ||
                   framing.status == kStatusNotModified;
  framing.hasLength = LengthOf(headers, &framing.length);
  framing.chunked = ChunkedOf(headers);
  return framing;
}

// The final answer of a whole response: where its head starts and its body starts, interim
// answers passed over. False while the final head is not complete.
bool FindFinalHead(const CByteBuffer& response, int* headStart, int* bodyStart) {
  for (int start = 0;;) {
    int headEnd = HeadEndIndex(response, start);
    if (headEnd < 0) return false;
    int end = headEnd + kHeadEndLength;
    if (!IsInterimStatus(StatusCodeOf(response.Data() + start, end - start))) {
      *headStart = start;
      *bodyStart = end;
      return true;
    }
    start = end;
  }
}

CByteBuffer Slice(const CByteBuffer& bytes, int from, int to) { return CByteBuffer(bytes.Data() + from, to - from); }

// The joined chunk data, when the raw body holds the whole chunked coding.
bool Dechunk(const CByteBuffer& raw, CByteBuffer& joined, bool* outOfMemory) {
  CByteBuffer data;
  if (!data.Reserve(raw.Length())) {
    *outOfMemory = true;
    return false;
  }
  CChunkDecoder decoder;
  if (decoder.Read(raw.Data(), raw.Length(), &data) != CChunkDecoder::EState::kDone) return false;
  joined = data;
  return true;
}

// An HTML page in UTF-8 turned into the local code page; false when memory ran out.
bool HtmlToAnsi(const HttpHeaders& headers, CByteBuffer& body) {
  const std::string* type = FindHeader(headers, "Content-Type");
  std::string lowerType = type ? AsciiLower(*type) : "";
  if (lowerType.find("text/html") == std::string::npos) return true;
  size_t charset = lowerType.find("charset=");
  if (charset == std::string::npos || lowerType.substr(charset + 8) != "utf-8") return true;
  std::string text(reinterpret_cast<const char*>(body.Data()), body.Length());
  CTextConverter converter;
  const char* ansi = converter.Utf8ToAnsi(text.c_str());
  if (!ansi) return true;  // not UTF-8 after all: left as received
  int length = static_cast<int>(strlen(ansi));
  CByteBuffer converted(ansi, length);
  if (converted.Length() != length) return false;
  body = converted;
  return true;
}

}  // namespace

bool HasHeadEnd(const CByteBuffer& response) { return HeadEndIndex(response) >= 0; }

int StatusCodeOf(const BYTE* head, int length) {
  std::string text(reinterpret_cast<const char*>(head), length);
  size_t lineEnd = text.find(kLineEnd);
  if (lineEnd == std::string::npos || lineEnd == 0) return -1;
  std::string line = text.substr(0, lineEnd);
  size_t space = line.find(' ');
  if (space == std::string::npos || space == 0) return -1;
  std::string rest = line.substr(space + 1);
  size_t next = rest.find(' ');
  if (next == std::string::npos || next == 0) return -1;
  return atoi(rest.substr(0, next).c_str());
}

bool IsInterimStatus(int status) { return status >= 100 && status < 200 && status != 101; }

ResponseFraming ReadFraming(const CByteBuffer& head) { return FramingOf(head, ParseResponseHeaders(head)); }

bool GetContentLength(const CByteBuffer& response, long long* length) {
  return LengthOf(ParseResponseHeaders(response), length);
}

bool IsCloseDelimited(const CByteBuffer& response) {
  HttpHeaders headers = ParseResponseHeaders(response);
  long long length;
  return HasHeadEnd(response) && !LengthOf(headers, &length) && !ChunkedOf(headers);
}

bool IsResponseComplete(const CByteBuffer& response) {
  int headStart, bodyStart;
  if (!FindFinalHead(response, &headStart, &bodyStart)) return false;
  ResponseFraming framing = ReadFraming(Slice(response, headStart, bodyStart));
  if (framing.noBody) return true;
  const BYTE* body = response.Data() + bodyStart;
  int bodyLength = response.Length() - bodyStart;
  if (framing.hasLength) return bodyLength == framing.length;
  if (framing.chunked) return CChunkDecoder().Read(body, bodyLength) == CChunkDecoder::EState::kDone;
  return false;
}

std::string GetResponseHead(const CByteBuffer& response) {
  int headEnd = HeadEndIndex(response);
  std::string head = headEnd < 0 ? "" : std::string(reinterpret_cast<const char*>(response.Data()), headEnd);
  return head + kLineEnd;
}

int GetStatusCode(const CByteBuffer& response) {
  std::string head = GetResponseHead(response);
  return StatusCodeOf(reinterpret_cast<const BYTE*>(head.data()), static_cast<int>(head.size()));
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

// A gzip stream ends with its uncompressed size (modulo 2^32): reserving that up front spares
// the copies of a growing output. Only a hint, and the sender's word: it is held to what the
// input could inflate to and to the cap.
int CGzipInflater::SizeHint(const CByteBuffer& input) const {
  if (input.Length() < kGzipTrailerSize) return 0;
  const BYTE* size = input.Data() + input.Length() - 4;
  unsigned long long hint =
      size[0] | (size[1] << 8) | (size[2] << 16) | (static_cast<unsigned long long>(size[3]) << 24);
  unsigned long long most = kMaxDeflateRatio * input.Length();
  if (hint > most) hint = most;
  return hint > static_cast<unsigned long long>(m_maxOutput) ? m_maxOutput : static_cast<int>(hint);
}

CGzipInflater::EResult CGzipInflater::Inflate(const CByteBuffer& input, CByteBuffer& output) const {
  z_stream stream = {};
  int initialised = inflateInit2(&stream, kInflateWindowBits);
  if (initialised != Z_OK) return initialised == Z_MEM_ERROR ? EResult::kNoMemory : EResult::kBadData;
  stream.next_in = const_cast<Bytef*>(input.Data());
  stream.avail_in = static_cast<uInt>(input.Length());
  CByteBuffer produced;
  produced.Reserve(SizeHint(input));
  EResult result = EResult::kDone;
  while (stream.avail_in > 0) {
    // Each step inflates into the next 1024 bytes of the output itself.
    if (!produced.ReserveMore(kInflateChunk)) {
      result = EResult::kNoMemory;
      break;
    }
    int length = produced.Length();
    stream.next_out = produced.Data() + length;
    stream.avail_out = kInflateChunk;
    int status = inflate(&stream, Z_SYNC_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) {
      result = status == Z_MEM_ERROR ? EResult::kNoMemory : EResult::kBadData;
      break;
    }
    produced.SetLength(length + kInflateChunk - static_cast<int>(stream.avail_out));
    if (produced.Length() > m_maxOutput) {
      result = EResult::kTooLarge;
      break;
    }
    if (status == Z_STREAM_END) break;
  }
  inflateEnd(&stream);
  if (result == EResult::kDone) output = produced;
  return result;
}

bool DecodeResponseBody(const CByteBuffer& head, const CByteBuffer& rawBody, int maxInflatedBytes, CByteBuffer& body,
                        HttpHeaders* headersOut) {
  HttpHeaders headers = ParseResponseHeaders(head);
  ResponseFraming framing = FramingOf(head, headers);
  CByteBuffer decoded = framing.noBody ? CByteBuffer() : rawBody;  // shared, not copied
  bool outOfMemory = false;
  if (!framing.noBody && !framing.hasLength && framing.chunked) {
    // A chunked body that is not complete (or not well formed) stays as received.
    Dechunk(rawBody, decoded, &outOfMemory);
    if (outOfMemory) return false;
  }
  const std::string* encoding = FindHeader(headers, "Content-Encoding");
  if (encoding && AsciiLower(*encoding).find("gzip") != std::string::npos) {
    CByteBuffer inflated;
    CGzipInflater::EResult inflation = CGzipInflater(maxInflatedBytes).Inflate(decoded, inflated);
    if (inflation == CGzipInflater::EResult::kNoMemory) return false;
    if (inflation == CGzipInflater::EResult::kDone) decoded = inflated;
  }
  if (!HtmlToAnsi(headers, decoded)) return false;
  body = decoded;
  if (headersOut) *headersOut = std::move(headers);
  return true;
}

CByteBuffer GetResponseBody(const CByteBuffer& response, HttpHeaders* headers, int maxInflatedBytes) {
  int headStart = 0, bodyStart = 0;
  if (!FindFinalHead(response, &headStart, &bodyStart)) bodyStart = response.Length();  // no body yet
  CByteBuffer body;
  DecodeResponseBody(Slice(response, headStart, bodyStart), Slice(response, bodyStart, response.Length()),
                     maxInflatedBytes, body, headers);
  return body;
}

std::string GetResponseText(const CByteBuffer& response) {
  CByteBuffer body = GetResponseBody(response);
  const char* text = reinterpret_cast<const char*>(body.Data());
  return std::string(text, strnlen(text, body.Length()));
}
