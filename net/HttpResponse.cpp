#include "net/HttpResponse.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>
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

std::string TrimmedBlanks(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The transfer codings of every Transfer-Encoding line, in the order applied, lower case.
std::vector<std::string> TransferCodingsOf(const HttpHeaders& headers) {
  std::vector<std::string> codings;
  for (const auto& header : headers) {
    if (_stricmp(header.first.c_str(), "Transfer-Encoding") != 0) continue;
    std::string list = AsciiLower(header.second);
    for (size_t start = 0; start <= list.size();) {
      size_t comma = list.find(',', start);
      if (comma == std::string::npos) comma = list.size();
      std::string coding = TrimmedBlanks(list.substr(start, comma - start));
      if (!coding.empty()) codings.push_back(coding);
      start = comma + 1;
    }
  }
  return codings;
}

// The transfer codings we undo: chunking and the zlib ones (identity is no coding at all).
bool CanUndo(const std::string& coding) {
  return coding == "chunked" || coding == "gzip" || coding == "x-gzip" || coding == "deflate" || coding == "identity";
}

// What a head says about its body, from its already parsed headers.
ResponseFraming FramingOf(const CByteBuffer& head, const HttpHeaders& headers) {
  ResponseFraming framing;
  framing.status = GetStatusCode(head);
  framing.noBody = (framing.status >= 100 && framing.status < 200) || framing.status == kStatusNoContent ||
                   framing.status == kStatusNotModified;
  framing.hasLength = LengthOf(headers, &framing.length);
  std::vector<std::string> codings = TransferCodingsOf(headers);
  // Only as the last coding does chunked end the body; matched as a whole token.
  framing.chunked = !codings.empty() && codings.back() == "chunked";
  if (framing.chunked) codings.pop_back();
  if (framing.noBody || framing.hasLength) return framing;
  for (const std::string& coding : codings) {
    if (!CanUndo(coding)) framing.undecodable = true;
  }
  framing.innerCodings = codings;
  return framing;
}

// The final answer of a whole response: where its head starts and its body starts, interim
// answers passed over. False while the final head is not complete, and for a malformed head.
bool FindFinalHead(const CByteBuffer& response, int* headStart, int* bodyStart) {
  for (int start = 0;;) {
    start = SkipEmptyLines(response.Data(), response.Length(), start);
    int headEnd = HeadEndIndex(response, start);
    if (headEnd < 0) return false;
    int end = headEnd + kHeadEndLength;
    if (!IsWellFormedHead(response.Data() + start, end - start)) return false;
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

// Undoes the transfer codings applied before the framing's own, the last applied first. False when
// one does not decode or memory ran out: the body then stays as it was.
bool UndoInnerCodings(const std::vector<std::string>& codings, int maxInflatedBytes, CByteBuffer& body,
                      bool* outOfMemory) {
  CByteBuffer decoded = body;
  for (auto coding = codings.rbegin(); coding != codings.rend(); ++coding) {
    CByteBuffer next = decoded;
    if (*coding == "chunked") {
      if (!Dechunk(decoded, next, outOfMemory)) return false;
    } else if (*coding != "identity") {
      CGzipInflater::EResult inflation = CGzipInflater(maxInflatedBytes).Inflate(decoded, next);
      *outOfMemory = inflation == CGzipInflater::EResult::kNoMemory;
      if (inflation != CGzipInflater::EResult::kDone) return false;
    }
    decoded = next;
  }
  body = decoded;
  return true;
}

bool IsDigit(BYTE c) { return c >= '0' && c <= '9'; }
bool IsBlank(BYTE c) { return c == ' ' || c == '\t'; }

// The characters of a token, which a header name is made of.
bool IsTokenChar(BYTE c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c != 0 && strchr("!#$%&'*+-.^_`|~", c));
}

// `HTTP/` DIGIT `.` DIGIT SP 3DIGIT, then the end or SP and any reason phrase; -1 for anything else.
int StatusOfLine(const BYTE* line, int length) {
  static const char kPrefix[] = "HTTP/";
  constexpr int kPrefixLength = sizeof(kPrefix) - 1;
  constexpr int kCodeAt = kPrefixLength + 4;  // after "D.D "
  if (length < kCodeAt + 3 || memcmp(line, kPrefix, kPrefixLength) != 0) return -1;
  const BYTE* version = line + kPrefixLength;
  if (!IsDigit(version[0]) || version[1] != '.' || !IsDigit(version[2]) || version[3] != ' ') return -1;
  const BYTE* code = line + kCodeAt;
  if (!IsDigit(code[0]) || !IsDigit(code[1]) || !IsDigit(code[2])) return -1;
  if (length > kCodeAt + 3 && code[3] != ' ') return -1;
  return (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
}

// A header line: a token name and a colon, or a continuation of the line before (obs-fold).
bool IsWellFormedHeaderLine(const BYTE* line, int length, bool follows) {
  if (IsBlank(line[0])) return follows;
  int colon = 0;
  while (colon < length && IsTokenChar(line[colon])) ++colon;
  return colon > 0 && colon < length && line[colon] == ':';
}

enum class EConversion { kDone, kInvalid, kNoMemory };
// `length` bytes of UTF-8, zero bytes included, in the ANSI code page; out unchanged unless kDone.
// Every allocation may fail: this runs on bodies of up to the response cap, on the worker.
EConversion Utf8BytesToAnsi(const BYTE* data, int length, CByteBuffer& out) {
  const char* text = reinterpret_cast<const char*>(data);
  if (length < 0 || (length > 0 && !data)) return EConversion::kInvalid;
  if (!IsValidUtf8(text, static_cast<size_t>(length))) return EConversion::kInvalid;
  CByteBuffer converted;
  if (length == 0) {
    out = converted;
    return EConversion::kDone;
  }
  int wideLength = MultiByteToWideChar(CP_UTF8, 0, text, length, nullptr, 0);
  if (wideLength <= 0) return EConversion::kInvalid;
  std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[wideLength]);
  if (!wide) return EConversion::kNoMemory;
  if (MultiByteToWideChar(CP_UTF8, 0, text, length, wide.get(), wideLength) != wideLength) {
    return EConversion::kInvalid;
  }
  int ansiLength = WideCharToMultiByte(CP_ACP, 0, wide.get(), wideLength, nullptr, 0, nullptr, nullptr);
  if (ansiLength <= 0) return EConversion::kInvalid;
  if (!converted.SetSize(ansiLength)) return EConversion::kNoMemory;
  if (WideCharToMultiByte(CP_ACP, 0, wide.get(), wideLength, reinterpret_cast<char*>(converted.Data()), ansiLength,
                          nullptr, nullptr) != ansiLength) {
    return EConversion::kInvalid;
  }
  out = converted;
  return EConversion::kDone;
}

// An HTML page in UTF-8 turned into the local code page; false when memory ran out.
bool HtmlToAnsi(const HttpHeaders& headers, CByteBuffer& body) {
  const std::string* type = FindHeader(headers, "Content-Type");
  std::string lowerType = type ? AsciiLower(*type) : "";
  if (lowerType.find("text/html") == std::string::npos) return true;
  size_t charset = lowerType.find("charset=");
  if (charset == std::string::npos || lowerType.substr(charset + 8) != "utf-8") return true;
  CByteBuffer converted;
  // Not UTF-8 after all (a binary body, say): left as received.
  switch (Utf8BytesToAnsi(body.Data(), body.Length(), converted)) {
    case EConversion::kDone: body = converted; return true;
    case EConversion::kInvalid: return true;
    case EConversion::kNoMemory: return false;
  }
  return false;
}

}  // namespace

bool HasHeadEnd(const CByteBuffer& response) { return HeadEndIndex(response) >= 0; }

int StatusCodeOf(const BYTE* head, int length) {
  const BYTE* lineEnd = std::search(head, head + length, kLineEnd, kLineEnd + kLineEndLength);
  if (lineEnd == head + length) return -1;
  return StatusOfLine(head, static_cast<int>(lineEnd - head));
}

// Bare CRs and LFs are how responses get split or smuggled past proxies, and a NUL ends a header
// early for C-string readers: each refuses the head.
bool IsWellFormedHead(const BYTE* head, int length) {
  for (int lineStart = 0, lineNumber = 0;; ++lineNumber) {
    int lineEnd = lineStart;
    while (lineEnd < length && head[lineEnd] != '\r' && head[lineEnd] != '\n' && head[lineEnd] != 0) ++lineEnd;
    if (lineEnd + 1 >= length || head[lineEnd] != '\r' || head[lineEnd + 1] != '\n') return false;
    int lineLength = lineEnd - lineStart;
    if (lineLength == 0) return lineNumber > 0 && lineEnd + kLineEndLength == length;
    const BYTE* line = head + lineStart;
    bool ok = lineNumber == 0 ? StatusOfLine(line, lineLength) >= 0
                              : IsWellFormedHeaderLine(line, lineLength, lineNumber > 1);
    if (!ok) return false;
    lineStart = lineEnd + kLineEndLength;
  }
}

int SkipEmptyLines(const BYTE* bytes, int length, int from) {
  while (from + 1 < length && bytes[from] == '\r' && bytes[from + 1] == '\n') from += kLineEndLength;
  return from;
}

bool IsInterimStatus(int status) { return status >= 100 && status < 200 && status != 101; }

ResponseFraming ReadFraming(const CByteBuffer& head) { return FramingOf(head, ParseResponseHeaders(head)); }

bool GetContentLength(const CByteBuffer& response, long long* length) {
  return LengthOf(ParseResponseHeaders(response), length);
}

bool IsCloseDelimited(const CByteBuffer& response) {
  ResponseFraming framing = ReadFraming(response);
  return HasHeadEnd(response) && !framing.hasLength && !framing.chunked;
}

bool IsResponseComplete(const CByteBuffer& response) {
  int headStart, bodyStart;
  if (!FindFinalHead(response, &headStart, &bodyStart)) return false;
  ResponseFraming framing = ReadFraming(Slice(response, headStart, bodyStart));
  if (framing.undecodable) return false;
  if (framing.noBody) return true;
  const BYTE* body = response.Data() + bodyStart;
  int bodyLength = response.Length() - bodyStart;
  if (framing.hasLength) return bodyLength >= framing.length;
  if (framing.chunked) return CChunkDecoder().Read(body, bodyLength) == CChunkDecoder::EState::kDone;
  return false;
}

std::string GetResponseHead(const CByteBuffer& response) {
  int start = SkipEmptyLines(response.Data(), response.Length(), 0);
  int headEnd = HeadEndIndex(response, start);
  const char* bytes = reinterpret_cast<const char*>(response.Data());
  std::string head = headEnd < 0 ? "" : std::string(bytes + start, headEnd - start);
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
    position = lineEnd + 2;
    if (IsBlank(line[0]) && !headers.empty()) {  // a folded line continues the value before it
      headers.back().second += " " + TrimmedBlanks(line);
      continue;
    }
    size_t colon = line.find(':');
    std::string name = line.substr(0, colon);
    std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' ') == std::string::npos ? value.size() : value.find_first_not_of(' '));
    headers.emplace_back(name, value);
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
  // Bytes beyond the announced length are not the body: dropped, as curl and browsers do.
  if (framing.hasLength && decoded.Length() > framing.length) {
    decoded = Slice(rawBody, 0, static_cast<int>(framing.length));
  }
  bool outOfMemory = false;
  if (!framing.noBody && !framing.hasLength) {
    // A body whose transfer codings do not decode (a chunked one not complete) stays as received.
    bool framed = !framing.chunked || Dechunk(rawBody, decoded, &outOfMemory);
    if (framed) UndoInnerCodings(framing.innerCodings, maxInflatedBytes, decoded, &outOfMemory);
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
