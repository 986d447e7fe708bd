// Reading a raw HTTP response (status line, headers, blank line, body, as received): when it is
// complete, its status and headers, and its body with chunking, gzip and UTF-8 HTML undone.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/ByteBuffer.h"

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// Most an inflated body may grow to unless the request sets a smaller cap; a larger one is left
// as received.
constexpr int kMaxInflatedBytes = 512 * 1024 * 1024;

// What a head says about the body after it. The body's end: a Content-Length, else chunked as
// the last transfer coding, else the close. Transfer-Encoding frames only a body without a length.
struct ResponseFraming {
  int status = -1;
  bool noBody = false;  // 1xx, 204 and 304 answers end with their head, whatever they announce
  bool hasLength = false;
  long long length = 0;
  bool chunked = false;  // the last transfer coding is chunked: the body ends with its last chunk
  // The transfer codings applied before the framing's own, lower case, in the order applied.
  std::vector<std::string> innerCodings;
  bool undecodable = false;  // a transfer coding we cannot undo frames the body: the response is refused
};
ResponseFraming ReadFraming(const CByteBuffer& head);
// The status of a status line `HTTP/` DIGIT `.` DIGIT SP 3DIGIT [SP reason] at `head`, else -1.
int StatusCodeOf(const BYTE* head, int length);
// A head (status line to blank line) as HTTP/1.1 has it: that status line; header lines of a
// token name, a colon and a value, or continuation lines; no CR, LF or NUL inside a line.
bool IsWellFormedHead(const BYTE* head, int length);
// Where the next head starts at or after `from`: the empty lines robust clients skip are passed.
int SkipEmptyLines(const BYTE* bytes, int length, int from);
// 1xx answers before the final one, except 101, which ends the exchange.
bool IsInterimStatus(int status);

bool HasHeadEnd(const CByteBuffer& response);
// Header names are matched ignoring case, as HTTP defines them.
bool GetContentLength(const CByteBuffer& response, long long* length);
// Neither a length nor chunking last: the body ends where the server closes the connection.
bool IsCloseDelimited(const CByteBuffer& response);
// Complete by its length (bytes beyond it are dropped), its last chunk or its status; a
// close-delimited response is complete only at the close, a malformed one never. Interim answers
// and the empty lines around them are passed over.
bool IsResponseComplete(const CByteBuffer& response);

std::string GetResponseHead(const CByteBuffer& response);  // every line ends in CRLF
int GetStatusCode(const CByteBuffer& response);            // -1 when there is none
HttpHeaders ParseResponseHeaders(const CByteBuffer& response);
const std::string* FindHeader(const HttpHeaders& headers, const char* name);  // first, ignoring case

// The decoded body of a head and its raw body. False only when memory ran out: a body that does
// not decode is returned as received. `headers` receives the response headers.
bool DecodeResponseBody(const CByteBuffer& head, const CByteBuffer& rawBody, int maxInflatedBytes, CByteBuffer& body,
                        HttpHeaders* headers = nullptr);
// The same for a whole response (interim answers passed over); empty when memory ran out.
CByteBuffer GetResponseBody(const CByteBuffer& response, HttpHeaders* headers = nullptr,
                            int maxInflatedBytes = kMaxInflatedBytes);
std::string GetResponseText(const CByteBuffer& response);

// Inflates zlib or gzip data in 1024-byte steps; a truncated stream gives what it produced.
class CGzipInflater {
public:
  enum class EResult { kDone, kBadData, kTooLarge, kNoMemory };

  explicit CGzipInflater(int maxOutputBytes = kMaxInflatedBytes) : m_maxOutput(maxOutputBytes) {}
  EResult Inflate(const CByteBuffer& input, CByteBuffer& output) const;

private:
  int SizeHint(const CByteBuffer& input) const;

  int m_maxOutput;
};
