// The same download as http_bench, through the system's WinINet: the reference our client is
// measured against on the same platform. The body is kept in memory, as our client keeps it.
// Usage: wininet_bench get URL   (http, or https with the certificate checked against the Root store)
#include <windows.h>

#include <wininet.h>

#include <cstdio>
#include <cstring>

#include "BenchSupport.h"
#include "base/ByteBuffer.h"
#include "base/ScopedHandle.h"

namespace {

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::InternetCloseHandle(h); }
};
using CInternetHandle = CScopedHandle<InternetHandleTraits>;

int Fail(const char* what) {
  fprintf(stderr, "wininet_bench: %s failed (error %lu)\n", what, GetLastError());
  return 1;
}

bool QueryNumber(HINTERNET request, DWORD query, DWORD* value) {
  DWORD size = sizeof(*value);
  return HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, value, &size, nullptr) != FALSE;
}

int Download(const char* url) {
  double start = Now();
  CInternetHandle session(InternetOpenA("wininet_bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!session.IsValid()) return Fail("InternetOpenA");
  DWORD flags =
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI;
  if (strncmp(url, "https:", 6) == 0) flags |= INTERNET_FLAG_SECURE;
  CInternetHandle request(InternetOpenUrlA(session.Get(), url, nullptr, 0, flags, 0));
  if (!request.IsValid()) return Fail("InternetOpenUrlA");
  DWORD status = 0;
  if (!QueryNumber(request.Get(), HTTP_QUERY_STATUS_CODE, &status) || status != 200) {
    fprintf(stderr, "wininet_bench: HTTP status %lu\n", status);
    return 1;
  }

  DWORD length = 0;
  if (!QueryNumber(request.Get(), HTTP_QUERY_CONTENT_LENGTH, &length)) length = 0;
  CByteBuffer body;
  bool whole = ReadWholeBody(body, length, [&](BYTE* into, DWORD room, DWORD* read) {
    return InternetReadFile(request.Get(), into, room, read) != FALSE;
  });
  if (!whole) return Fail("reading the body");
  double seconds = Now() - start;
  PrintResult(body, seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "get") == 0) return Download(argv[2]);
  fprintf(stderr, "usage: wininet_bench get URL\n");
  return 2;
}
