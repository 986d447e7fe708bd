// What the download benchmarks print alike, so scripts/bench.sh reads every one the same way.
#pragma once

#include "base/ByteBuffer.h"

double Now();                                // seconds, from the performance counter
void PrintDigest(const CByteBuffer& bytes);  // the "digest" and "bytes" lines
