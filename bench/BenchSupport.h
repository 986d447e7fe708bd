// What the download benchmarks print alike, so scripts/bench.sh reads every one the same way.
#pragma once

#include <windows.h>

#include <functional>

#include "base/ByteBuffer.h"

double Now();  // seconds, from the performance counter
// The "digest", "bytes" and "seconds" lines of one measured run.
void PrintResult(const CByteBuffer& bytes, double seconds);

// One platform read of at most `room` bytes into `into`; false when the read failed.
using BodyRead = std::function<bool(BYTE* into, DWORD room, DWORD* read)>;
// The whole body into `body`, read until a read gives nothing: room for the announced length (0:
// unknown) and one byte more, so a body of known length is never copied; else grown as it comes.
bool ReadWholeBody(CByteBuffer& body, DWORD announced, const BodyRead& read);
