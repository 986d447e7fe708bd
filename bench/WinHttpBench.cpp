// The same download through the system's WinHTTP, the other platform client our client is
// measured against. The body is kept in memory, as our client keeps it.
// Usage: winhttp_bench get URL   (http, or https with the certificate checked against the Root store)
#include <windows.h>

#include <winhttp.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "BenchSupport.h"
#include "base/ByteBuffer.h"
#include "base/ScopedHandle.h"

namespace {

struct WinHttpHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::WinHttpCloseHandle(h); }
};
using CWinHttpHandle = CScopedHandle<WinHttpHandleTraits>;

int Fail(const char* what) {
  fprintf(stderr, "winhttp_bench: %s failed (error %lu)\n", what, GetLastError());
  return 1;
}

std::wstring Wide(const char* text) {
  std::wstring wide;
  for (; *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  return wide;
}

bool QueryNumber(HINTERNET request, DWORD query, DWORD* value) {
  DWORD size = sizeof(*value);
  return WinHttpQueryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, value, &size,
                             WINHTTP_NO_HEADER_INDEX) != FALSE;
}

int Download(const char* url) {
  double start = Now();
  std::wstring wideUrl = Wide(url);
  wchar_t host[256] = {};
  wchar_t path[2048] = {};
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = ARRAYSIZE(host);
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = ARRAYSIZE(path);
  if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) return Fail("WinHttpCrackUrl");
  CWinHttpHandle session(
      WinHttpOpen(L"winhttp_bench", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.IsValid()) return Fail("WinHttpOpen");
  CWinHttpHandle connection(WinHttpConnect(session.Get(), host, parts.nPort, 0));
  if (!connection.IsValid()) return Fail("WinHttpConnect");
  DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  CWinHttpHandle request(WinHttpOpenRequest(connection.Get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
  if (!request.IsValid()) return Fail("WinHttpOpenRequest");
  if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.Get(), nullptr)) {
    return Fail("the request");
  }
  DWORD status = 0;
  if (!QueryNumber(request.Get(), WINHTTP_QUERY_STATUS_CODE, &status) || status != 200) {
    fprintf(stderr, "winhttp_bench: HTTP status %lu\n", status);
    return 1;
  }

  DWORD length = 0;
  if (!QueryNumber(request.Get(), WINHTTP_QUERY_CONTENT_LENGTH, &length)) length = 0;
  CByteBuffer body;
  bool whole = ReadWholeBody(body, length, [&](BYTE* into, DWORD room, DWORD* read) {
    return WinHttpReadData(request.Get(), into, room, read) != FALSE;
  });
  if (!whole) return Fail("reading the body");
  PrintResult(body, Now() - start);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "get") == 0) return Download(argv[2]);
  fprintf(stderr, "usage: winhttp_bench get URL\n");
  return 2;
}
