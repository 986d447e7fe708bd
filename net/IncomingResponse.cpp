#include "net/IncomingResponse.h"

#include <climits>
#include <cstring>

#include "net/HttpLines.h"
#include "net/HttpResponse.h"

namespace {

int ClampToInt(long long value) { return value > INT_MAX ? INT_MAX : static_cast<int>(value); }

}  // namespace

CIncomingResponse::CIncomingResponse(int receiveSize, int maxBytes)
    : m_receiveSize(receiveSize), m_maxBytes(maxBytes) {}

// What the body buffer may hold: the heads until the final one is in, then the announced length
// or what is left of the cap.
long long CIncomingResponse::BodyLimit() const {
  if (!HasHead()) return kMaxHeadBytes;
  if (m_hasLength) return m_contentLength;
  return m_maxBytes - m_head.Length();
}

BYTE* CIncomingResponse::ReceiveSpace(int* room) {
  // Room for one whole receive beyond the limit too: passing the limit is found by Commit.
  if (!m_body.ReserveMore(m_receiveSize, ClampToInt(BodyLimit() + m_receiveSize))) return nullptr;
  *room = m_receiveSize;
  return m_body.Data() + m_body.Length();
}

bool CIncomingResponse::Commit(int count) {
  if (count <= 0) return true;
  if (count > m_body.Capacity() - m_body.Length()) return false;
  m_body.SetLength(m_body.Length() + count);
  if (!HasHead()) return ReadHeads();
  return ReadBody();
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

// Looks for the end of the head in what arrived since the last look; empty lines before a head
// and interim answers are passed over, a malformed head refused, and the final head taken out of
// the buffer.
bool CIncomingResponse::ReadHeads() {
  for (;;) {
    m_headStart = SkipEmptyLines(m_body.Data(), m_body.Length(), m_headStart);
    int from = m_headScanned - (kHeadEndLength - 1);
    if (from < m_headStart) from = m_headStart;
    m_headScanned = m_body.Length();
    int headEnd = m_body.Find(kHeadEnd, kHeadEndLength, from);
    if (headEnd < 0) return m_body.Length() <= kMaxHeadBytes;
    int bodyStart = headEnd + kHeadEndLength;
    if (bodyStart > kMaxHeadBytes) return false;
    if (!IsWellFormedHead(m_body.Data() + m_headStart, bodyStart - m_headStart)) return false;
    if (m_keepInterim || !IsInterimStatus(StatusCodeOf(m_body.Data() + m_headStart, bodyStart - m_headStart))) {
      return TakeFinalHead(m_headStart, bodyStart);
    }
    m_headStart = bodyStart;
    m_headScanned = bodyStart;  // the next head may already be in
  }
}

bool CIncomingResponse::TakeFinalHead(int headStart, int bodyStart) {
  int headLength = bodyStart - headStart;
  m_head = CByteBuffer(m_body.Data() + headStart, headLength);
  if (m_head.Length() != headLength) return false;  // out of memory
  if (m_body.Erase(0, bodyStart) < 0) return false;
  m_headIn = true;

  ResponseFraming framing = ReadFraming(m_head);
  if (framing.undecodable) return false;
  m_noBody = framing.noBody || m_keepInterim;
  m_hasLength = !m_noBody && framing.hasLength;
  m_contentLength = framing.length;
  m_chunked = !m_noBody && !m_hasLength && framing.chunked;
  if (m_hasLength) {
    if (m_contentLength > m_maxBytes - headLength) return false;
    // Address space for the announced length, memory for at most 16 MiB of it: the rest is
    // committed in place as bytes really arrive, so the body is never copied to grow. Only a
    // saving: without the range the buffer grows by copying.
    long long announced = m_contentLength + m_receiveSize;
    if (announced > kMaxUpFrontReserve) m_body.ReserveAddressRange(ClampToInt(announced));
    m_body.Reserve(ClampToInt(announced < kMaxUpFrontReserve ? announced : kMaxUpFrontReserve));
  }
  // A chunked body is joined into a buffer of its own when it is read, so the raw one never
  // leaves the client: it may have a range as large as the cap without pinning it for long.
  if (m_chunked) m_body.ReserveAddressRange(ClampToInt(BodyLimit() + m_receiveSize));
  return ReadBody();
}

bool CIncomingResponse::ReadBody() {
  if (m_noBody) return m_body.SetLength(0);  // whatever follows such a head is not its body
  // Bytes beyond the announced length are not the body: dropped, as curl and browsers do, and
  // the connection ends with the request.
  if (m_hasLength) return m_body.Length() <= m_contentLength || m_body.SetLength(ClampToInt(m_contentLength));
  if (m_body.Length() > BodyLimit()) return false;  // past the cap
  if (m_chunked) return m_chunks.Read(m_body.Data(), m_body.Length()) != CChunkDecoder::EState::kBad;
  return true;
}

bool CIncomingResponse::IsComplete() const {
  if (!HasHead()) return false;
  if (m_noBody) return true;
  if (m_hasLength) return m_body.Length() == m_contentLength;
  if (m_chunked) return m_chunks.State() == CChunkDecoder::EState::kDone;
  return false;
}

bool CIncomingResponse::IsCompleteAtClose() const { return IsComplete() || (HasHead() && !m_hasLength && !m_chunked); }

CByteBuffer CIncomingResponse::Joined() const { return Concatenated(m_head, m_body); }
