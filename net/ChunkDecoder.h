// Chunked transfer coding, read as the body grows: the decoder remembers where it stopped (even
// inside a size line), so every byte is looked at once however the body arrives. The receive
// loop uses it to see the end of the body; the body extraction uses it to join the chunks.
#pragma once

#include "base/ByteBuffer.h"

class CChunkDecoder {
public:
  enum class EState { kMore, kDone, kBad };

  // Longest size or trailer line we read; a longer one is not HTTP but an attack.
  static constexpr int kMaxLineBytes = 1024;

  // Reads what `body` holds beyond the last call (the body only ever grows; its bytes may have
  // moved). With `out`, each chunk's data is appended there; the caller reserves the room, since
  // the joined data is never longer than the body. After the end, any further byte is kBad.
  EState Read(const BYTE* body, int length, CByteBuffer* out = nullptr);
  EState State() const { return m_state; }

private:
  enum class EStep { kSizeLine, kTrailerLine, kLineFeed, kData, kDataCr, kDataLf };

  bool EndLine();  // a whole size or trailer line was read

  EState m_state = EState::kMore;
  EStep m_step = EStep::kSizeLine;
  bool m_inTrailer = false;
  int m_position = 0;    // body bytes read so far
  int m_lineLength = 0;  // of the line being read
  bool m_inExtension = false;
  bool m_sizeEnded = false;  // white space after the digits: only more white space or ";" may follow
  int m_digits = 0;
  unsigned long long m_size = 0;
  int m_dataLeft = 0;
};
