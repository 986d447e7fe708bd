#include "net/ChunkDecoder.h"

#include <climits>

#include "base/TextFormat.h"

namespace {

bool IsBlank(BYTE c) { return c == ' ' || c == '\t'; }

}  // namespace

CChunkDecoder::EState CChunkDecoder::Read(const BYTE* body, int length, CByteBuffer* out) {
  while (m_state == EState::kMore && m_position < length) {
    if (m_step == EStep::kData) {
      int take = length - m_position < m_dataLeft ? length - m_position : m_dataLeft;
      if (out) out->Append(body + m_position, take);
      m_position += take;
      m_dataLeft -= take;
      if (m_dataLeft == 0) m_step = EStep::kDataCr;
      continue;
    }
    BYTE c = body[m_position++];
    bool ok = true;
    switch (m_step) {
      case EStep::kDataCr:
        ok = c == '\r';
        m_step = EStep::kDataLf;
        break;
      case EStep::kDataLf:
        ok = c == '\n';
        m_step = EStep::kSizeLine;
        break;
      case EStep::kLineFeed: ok = c == '\n' && EndLine(); break;
      case EStep::kSizeLine:
      case EStep::kTrailerLine:
        if (c == '\r') {
          m_step = EStep::kLineFeed;
        } else if (c == '\n' || ++m_lineLength > kMaxLineBytes) {
          ok = false;
        } else if (m_step == EStep::kSizeLine && !m_inExtension) {
          // The size: hexadecimal digits only, white space around them, extensions after ";".
          if (c == ';') {
            m_inExtension = true;
          } else if (IsBlank(c)) {
            m_sizeEnded = m_digits > 0;
          } else {
            int digit = HexDigitValue(static_cast<char>(c));
            ok = !m_sizeEnded && digit >= 0;
            if (ok) {
              m_size = m_size * 16 + digit;
              ++m_digits;
              ok = m_size <= static_cast<unsigned long long>(INT_MAX);
            }
          }
        }
        break;
      case EStep::kData: break;
    }
    if (!ok) m_state = EState::kBad;
  }
  // A byte after the end is not ours to take: the answer is malformed.
  if (m_state == EState::kDone && m_position < length) m_state = EState::kBad;
  return m_state;
}

bool CChunkDecoder::EndLine() {
  bool wasTrailer = m_inTrailer;
  int lineLength = m_lineLength;
  m_lineLength = 0;
  if (wasTrailer) {
    if (lineLength == 0) m_state = EState::kDone;  // the blank line closes the trailers
    m_step = EStep::kTrailerLine;
    return true;
  }
  if (m_digits == 0) return false;
  m_dataLeft = static_cast<int>(m_size);
  m_inTrailer = m_size == 0;
  m_step = m_inTrailer ? EStep::kTrailerLine : EStep::kData;
  m_inExtension = false;
  m_sizeEnded = false;
  m_digits = 0;
  m_size = 0;
  return true;
}
