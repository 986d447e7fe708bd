// The product's container file: a zip archive of named entries behind the magic
// "velmor db file", an MD5 digest of the archive, and a keyed byte substitution that hides both.
#pragma once

#include <string>

#include "base/ByteBuffer.h"
#include "data/ZipArchive.h"

using CodecProgress = void (*)(int done, int total, void* user);

// The codec's parameter block: seven 32-bit fields, `size` first (must be sizeof = 28).
struct CodecParams {
  int size;
  const char* password;
  BYTE* data;
  int length;
  CodecProgress progress;
  int step;
  void* user;
};
static_assert(sizeof(CodecParams) == 28, "the parameter block is seven 32-bit fields");

// Transform the data in place; the data length, or 0 (nothing touched) for a missing block, an
// empty password or a wrong size marker.
int EncodeBuffer(CodecParams* params);
int DecodeBuffer(CodecParams* params);

class CDbContainer {
public:
  static const char kMagic[];

  // An empty password takes the bytes as a plain zip archive. On failure the payload is kept.
  bool Open(const CByteBuffer& bytes, const char* password);
  bool Save(const char* path, const char* password) const;
  bool BuildImage(const char* password, CByteBuffer& out) const;

  // An empty entry counts as missing, and so does one larger than `maxBytes` (refused before it is
  // extracted). The text stops at the first zero byte.
  bool ReadEntry(const char* name, CByteBuffer& out, unsigned long maxBytes = kMaxZipEntryBytes) const;
  bool ReadTextEntry(const char* name, std::string& out, unsigned long maxBytes = kMaxZipEntryBytes) const;
  bool WriteEntry(const char* name, const CByteBuffer& bytes);
  bool WriteTextEntry(const char* name, const char* text);

  const CByteBuffer& Payload() const { return m_payload; }

private:
  CByteBuffer m_payload;
};
