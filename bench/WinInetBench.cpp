// The same download as http_bench, through the system's WinINet: the reference our client is
// measured against on the same platform. The body is kept in memory, as our client keeps it.
// Usage: wininet_bench get URL   (http, or https with the certificate checked against the Root store)
#include <windows.h>

#include <wininet.h>

#include <climits>
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

constexpr int kFirstCapacity = 64 * 1024;  // without a Content-Length; doubled when full

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

  // One byte past the announced length leaves room for the read that finds the end, so a
  // body of known length is never copied.
  CByteBuffer body;
  DWORD length = 0;
  if (!QueryNumber(request.Get(), HTTP_QUERY_CONTENT_LENGTH, &length) || length >= static_cast<DWORD>(INT_MAX) ||
      !body.Reserve(static_cast<int>(length) + 1)) {
    body.Reserve(kFirstCapacity);
  }
  for (;;) {
    if (body.Capacity() == body.Length() && !body.ReserveMore(kFirstCapacity)) {
      fprintf(stderr, "wininet_bench: out of memory at %d bytes\n", body.Length());
      return 1;
    }
    DWORD read = 0;
    DWORD room = static_cast<DWORD>(body.Capacity() - body.Length());
    if (!InternetReadFile(request.Get(), body.Data() + body.Length(), room, &read)) return Fail("InternetReadFile");
    if (read == 0) break;
    body.SetLength(body.Length() + static_cast<int>(read));
  }
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
