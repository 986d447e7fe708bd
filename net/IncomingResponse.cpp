#include "net/IncomingResponse.h"

#include "net/HttpResponse.h"

#include <cstring>

namespace {

const char kHeadEnd[] = "\r\n\r\n";
constexpr int kHeadEndLength = 4;

}  // namespace

BYTE* CIncomingResponse::ReceiveSpace(int* room) {
  // Room for one whole receive beyond the limit too: passing the limit is found by Commit.
  if (!m_bytes.ReserveMore(m_receiveSize, kMaxResponseBytes + m_receiveSize)) return nullptr;
  *room = m_receiveSize;
  return m_bytes.Data() + m_bytes.Length();
}

bool CIncomingResponse::Commit(int count) {
  if (count <= 0) return true;
  if (count > kMaxResponseBytes - m_bytes.Length()) return false;
  m_bytes.SetLength(m_bytes.Length() + count);
  return HasHead() || ReadHead();
}

bool CIncomingResponse::Append(const BYTE* bytes, int count) {
  for (int taken = 0; taken < count;) {
    int room = 0;
    BYTE* space = ReceiveSpace(&room);
    if (!space) return false;
    int piece = count - taken < room ? count - taken : room;
    memcpy(space, bytes + taken, piece);
    if (!Commit(piece)) return false;
    taken += piece;
  }
  return true;
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
  // The whole response and one more receive: the rest arrives without a copy. Only a saving:
  // growth still works without it.
  m_bytes.Reserve(static_cast<int>(m_bodyStart + m_contentLength) + m_receiveSize);
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
