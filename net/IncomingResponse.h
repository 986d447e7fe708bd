// A response as it comes off the socket: its bytes, and what is known so far about where it
// ends. The head position, the announced length and the chunk walk are kept between receives,
// so each receive costs only what it added (the answers equal IsResponseComplete's).
#pragma once

#include "base/ByteBuffer.h"

class CIncomingResponse {
public:
  // Most a server can make us hold for one response; a larger one fails the request.
  static constexpr int kMaxResponseBytes = 512 * 1024 * 1024;

  // False when the response passes the limit (or its head announces a length that would) or
  // the memory cannot be had: the response cannot be taken.
  bool Append(const BYTE* bytes, int count);
  void Clear();

  bool HasHead() const { return m_headEnd >= 0; }
  // Head plus Content-Length once both are known, else -1.
  long long ExpectedTotal() const { return m_hasLength ? m_bodyStart + m_contentLength : -1; }
  bool IsComplete();
  // After the server closed the connection: complete, or a close-delimited body with its head in.
  bool IsCompleteAtClose();

  const CByteBuffer& Bytes() const { return m_bytes; }

private:
  bool ReadHead();

  CByteBuffer m_bytes;
  int m_headScanned = 0;  // bytes searched for the head's end so far
  int m_headEnd = -1;
  int m_bodyStart = 0;
  bool m_hasLength = false;
  long long m_contentLength = 0;
  bool m_chunked = false;
  int m_chunkWalk = 0;  // body offset of the first chunk not yet wholly received
};
