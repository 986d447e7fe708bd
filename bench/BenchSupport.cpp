#include "BenchSupport.h"

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
