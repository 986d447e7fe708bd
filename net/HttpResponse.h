// Reading a raw HTTP response (status line, headers, blank line, body, as received): when it is
// complete, its status and headers, and its body with chunking, gzip and UTF-8 HTML undone.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/ByteBuffer.h"

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// Most an inflated body may grow to; a larger one is left as received.
constexpr int kMaxInflatedBytes = 512 * 1024 * 1024;

bool HasHeadEnd(const CByteBuffer& response);
// Header names are matched ignoring case, as HTTP defines them.
bool GetContentLength(const CByteBuffer& response, long long* length);
bool IsChunked(const CByteBuffer& response);
// Neither a length nor chunking: the body ends where the server closes the connection.
bool IsCloseDelimited(const CByteBuffer& response);
// Complete by its length or its last chunk; a close-delimited response is complete only at the close.
bool IsResponseComplete(const CByteBuffer& response);

std::string GetResponseHead(const CByteBuffer& response);  // every line ends in CRLF
int GetStatusCode(const CByteBuffer& response);            // -1 when there is none
HttpHeaders ParseResponseHeaders(const CByteBuffer& response);
const std::string* FindHeader(const HttpHeaders& headers, const char* name);  // first, ignoring case

// The decoded body; `headers` receives the response headers (parsing them is part of decoding).
CByteBuffer GetResponseBody(const CByteBuffer& response, HttpHeaders* headers = nullptr);
std::string GetResponseText(const CByteBuffer& response);

// Chunked transfer coding: whether the body holds its last chunk, and the joined chunk data.
// With `position`, the walk starts at that body offset and leaves it after the last chunk that
// was wholly there, so a growing body is walked once.
bool ChunksComplete(const BYTE* body, int length, int* position = nullptr);
CByteBuffer Dechunk(const BYTE* body, int length);

// Inflates zlib or gzip data in 1024-byte steps; a truncated stream gives what it produced.
class CGzipInflater {
public:
  bool Inflate(const CByteBuffer& input, CByteBuffer& output);

private:
  static int SizeHint(const CByteBuffer& input);
};
