// One GET the way every download of the launcher makes it: redirects followed, the configuration
// server's Referer, the caller's caps, progress and abort event.
#pragma once

#include <windows.h>

#include "base/ByteBuffer.h"
#include "net/HttpClient.h"

constexpr int kStatusOk = 200;
constexpr int kStatusNotModified = 304;
constexpr int kNoAnswer = -1;  // no response came, or its body could not be decoded

struct DownloadOptions {
  const char* validator = nullptr;  // If-None-Match, or null
  int maxBytes = CIncomingResponse::kMaxResponseBytes;
  ProgressCallback progress = nullptr;
  DWORD_PTR context = 0;
  HANDLE abort = nullptr;    // ends the download's waits when set; may be null
  bool https = false;        // over TLS, with the https Referer; no step down to http
  bool systemProxy = false;  // the user's proxy settings, authenticating proxies answered
};

// The decoded body of a 200, else empty; `status` receives the answer's status. A body that could
// not be decoded for lack of memory is a failed download (kNoAnswer), never a short body.
CByteBuffer DownloadBody(const char* url, const DownloadOptions& options, int* status);
