// Where the loader configuration comes from: the configuration server, asked with the validator
// of the cached copy, and that cache. It only reads: the cache is written by the installer.
#pragma once

#include <windows.h>

#include "base/ByteBuffer.h"
#include "net/HttpClient.h"

class CConfigSource {
public:
  // A configuration is a few hundred bytes: a larger answer (or a gzip bomb) is refused early.
  static constexpr int kMaxConfigBytes = 16 * 1024 * 1024;

  struct Answer {
    int status;         // 200, 304, another status, or -1 when none came
    CByteBuffer bytes;  // fresh with 200, the cached copy with 304, else empty
  };

  void SetAbortEvent(HANDLE event) { m_abortEvent = event; }
  void SetHttps(bool on) { m_https = on; }  // the https address, over TLS
  void SetSystemProxy(bool on) { m_systemProxy = on; }  // see CHttpClient::SetSystemProxy

  // The configuration cached by the last download that brought one; false when there is none.
  static bool ReadCached(CByteBuffer& out);
  // One attempt, sending the MD5 of `cached` (when not empty) as If-None-Match.
  Answer Fetch(const CByteBuffer& cached, ProgressCallback progress, DWORD_PTR context) const;

private:
  HANDLE m_abortEvent = nullptr;
  bool m_https = false;
  bool m_systemProxy = false;
};

// The server's entity tag for a configuration: the quoted upper-case MD5 of the file.
std::string EntityTagOf(const CByteBuffer& bytes);
