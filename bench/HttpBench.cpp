// HTTP client figures: one download (time, bytes, MD5, peak memory) or one gzip inflation.
// Usage: http_bench get URL [FIRST_URL]   (http, or https over TLS with the certificate checked;
//                                          FIRST_URL, timed apart, before the measured download)
//        http_bench inflate FILE.gz
#include <winsock2.h>

#include <psapi.h>

#include <cstdio>
#include <cstring>

#include "BenchSupport.h"
#include "base/ByteBuffer.h"
#include "net/EventSocket.h"
#include "net/HttpClient.h"

namespace {

PROCESS_MEMORY_COUNTERS Memory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters;
}

bool Get(CHttpClient& client, const char* url) {
  client.SetHttps(true);
  if (client.Get(url, false)) return true;
  fprintf(stderr, "http_bench: the download of %s failed (TLS status 0x%08lx)\n", url,
          static_cast<unsigned long>(client.GetTlsError()));
  return false;
}

// A first download leaves the process as later ones find it (over https: Wine's TLS stack loaded,
// the Root store read), so the measured one shows what its body adds.
int Download(const char* url, const char* firstUrl) {
  if (!NetStartup()) return 1;
  if (firstUrl) {
    double start = Now();
    CHttpClient first;
    if (!Get(first, firstUrl)) return 1;
    printf("first_seconds %.3f\n", Now() - start);
  }
  PROCESS_MEMORY_COUNTERS before = Memory();
  double start = Now();
  CHttpClient client;
  if (!Get(client, url)) return 1;
  double received = Now();
  CByteBuffer body = client.GetResponseBody();
  double seconds = Now() - start;
  PROCESS_MEMORY_COUNTERS after = Memory();
  PrintResult(body, seconds);
  printf("receive_seconds %.3f\n", received - start);
  // Private bytes: what the download made this process commit, beyond what it had before.
  printf("private_bytes_before %lu\n", static_cast<unsigned long>(before.PagefileUsage));
  printf("peak_private_bytes %lu\n", static_cast<unsigned long>(after.PeakPagefileUsage));
  // The resident high-water mark: what the download really touched at its worst moment.
  printf("working_set_before %lu\n", static_cast<unsigned long>(before.WorkingSetSize));
  printf("peak_working_set %lu\n", static_cast<unsigned long>(after.PeakWorkingSetSize));
  NetCleanup();
  return 0;
}

int Inflate(const char* path) {
  CByteBuffer packed;
  if (packed.ReadFromFile(path) <= 0) {
    fprintf(stderr, "http_bench: cannot read %s\n", path);
    return 1;
  }
  double start = Now();
  CByteBuffer plain;
  if (CGzipInflater().Inflate(packed, plain) != CGzipInflater::EResult::kDone) {
    fprintf(stderr, "http_bench: inflation failed\n");
    return 1;
  }
  double seconds = Now() - start;
  PrintResult(plain, seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 3 || argc == 4) && strcmp(argv[1], "get") == 0) return Download(argv[2], argc == 4 ? argv[3] : nullptr);
  if (argc == 3 && strcmp(argv[1], "inflate") == 0) return Inflate(argv[2]);
  fprintf(stderr, "usage: http_bench get URL [FIRST_URL] | http_bench inflate FILE.gz\n");
  return 2;
}
