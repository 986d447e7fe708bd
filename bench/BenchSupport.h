// What the download benchmarks print alike, so scripts/bench.sh reads every one the same way.
#pragma once

#include "base/ByteBuffer.h"

double Now();  // seconds, from the performance counter
// The "digest", "bytes" and "seconds" lines of one measured run.
void PrintResult(const CByteBuffer& bytes, double seconds);
