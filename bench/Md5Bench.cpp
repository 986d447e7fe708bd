// MD5 throughput on one file: prints MB/s for hashing alone and for reading plus hashing.
// Usage: md5_bench FILE
#include <windows.h>

#include <cstdio>

#include "base/ByteBuffer.h"
#include "base/Md5.h"

namespace {
double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end, const LARGE_INTEGER& frequency) {
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: md5_bench FILE\n");
    return 2;
  }
  LARGE_INTEGER frequency, start, read, hashed;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  CByteBuffer buffer;
  if (buffer.ReadFromFile(argv[1]) <= 0) {
    fprintf(stderr, "md5_bench: cannot read %s\n", argv[1]);
    return 1;
  }
  QueryPerformanceCounter(&read);
  char digest[kMd5HexSize];
  Md5Hex(buffer.Data(), buffer.Length(), digest);
  QueryPerformanceCounter(&hashed);

  double megabytes = buffer.Length() / (1024.0 * 1024.0);
  printf("digest %s\n", digest);
  printf("bytes %d\n", buffer.Length());
  printf("hash_seconds %.3f\n", Seconds(read, hashed, frequency));
  printf("hash_mb_per_s %.1f\n", megabytes / Seconds(read, hashed, frequency));
  printf("read_and_hash_mb_per_s %.1f\n", megabytes / Seconds(start, hashed, frequency));
  return 0;
}
