#include "BenchSupport.h"

#include <climits>
#include <cstdio>

#include "base/Md5.h"

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void PrintResult(const CByteBuffer& bytes, double seconds) {
  char digest[kMd5HexSize];
  Md5Hex(bytes.Data(), bytes.Length(), digest);
  printf("digest %s\n", digest);
  printf("bytes %d\n", bytes.Length());
  printf("seconds %.3f\n", seconds);
}

bool ReadWholeBody(CByteBuffer& body, DWORD announced, const BodyRead& read) {
  constexpr int kFirstCapacity = 64 * 1024;
  if (announced == 0 || announced >= static_cast<DWORD>(INT_MAX) || !body.Reserve(static_cast<int>(announced) + 1)) {
    body.Reserve(kFirstCapacity);
  }
  for (;;) {
    if (body.Capacity() == body.Length() && !body.ReserveMore(kFirstCapacity)) {
      fprintf(stderr, "out of memory at %d bytes\n", body.Length());
      return false;
    }
    DWORD count = 0;
    if (!read(body.Data() + body.Length(), static_cast<DWORD>(body.Capacity() - body.Length()), &count)) return false;
    if (count == 0) return true;
    body.SetLength(body.Length() + static_cast<int>(count));
  }
}
