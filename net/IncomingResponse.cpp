#include "net/IncomingResponse.h"

#include "net/HttpResponse.h"

namespace {

const char kHeadEnd[] = "\r\n\r\n";
constexpr int kHeadEndLength = 4;

}  // namespace

void CIncomingResponse::Clear() { *this = CIncomingResponse(); }

bool CIncomingResponse::Append(const BYTE* bytes, int count) {
  if (count <= 0) return true;
  if (!m_bytes.ReserveMore(count, kMaxResponseBytes)) return false;
  m_bytes.Append(bytes, count);
  return HasHead() || ReadHead();
}

// Looks for the head's end in what arrived since the last look; once it is in, reads the length
// and coding once and reserves the whole response when its size is announced.
bool CIncomingResponse::ReadHead() {
  int from = m_headScanned > kHeadEndLength - 1 ? m_headScanned - (kHeadEndLength - 1) : 0;
  m_headScanned = m_bytes.Length();
  int headEnd = m_bytes.Find(kHeadEnd, kHeadEndLength, from);
  if (headEnd < 0) return true;
  m_headEnd = headEnd;
  m_bodyStart = headEnd + kHeadEndLength;
  m_hasLength = GetContentLength(m_bytes, &m_contentLength);
  m_chunked = !m_hasLength && IsChunked(m_bytes);
  if (!m_hasLength) return true;
  if (m_contentLength > kMaxResponseBytes - m_bodyStart) return false;
  m_bytes.Reserve(static_cast<int>(m_bodyStart + m_contentLength));  // only a saving: growth still works
  return true;
}

bool CIncomingResponse::IsComplete() {
  if (!HasHead()) return false;
  int bodyLength = m_bytes.Length() - m_bodyStart;
  if (m_hasLength) return bodyLength == m_contentLength;
  if (m_chunked) return ChunksComplete(m_bytes.Data() + m_bodyStart, bodyLength, &m_chunkWalk);
  return false;
}

bool CIncomingResponse::IsCompleteAtClose() { return IsComplete() || (HasHead() && !m_hasLength && !m_chunked); }
