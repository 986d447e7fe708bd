#include "data/DbContainer.h"

#include <windows.h>

#include <cstring>

#include "base/Md5.h"
#include "data/ZipArchive.h"

const char CDbContainer::kMagic[] = "velmor db file";

namespace {

constexpr int kMagicLength = 14;
constexpr int kDigestLength = 32;
constexpr int kParamsSize = 28;

struct SubstitutionTable {
  BYTE map[256];
};

SubstitutionTable MakeEncodeTable(const char* password) {
  SubstitutionTable table;
  for (int i = 0; i < 256; ++i) table.map[i] = static_cast<BYTE>(i);
  int length = lstrlenA(password);
  for (int j = 0, k = 0; j < 256; ++j) {
    if (k >= length) k = 0;
    BYTE x = static_cast<BYTE>(password[k++]);
    BYTE swap = table.map[j];
    table.map[j] = table.map[x];
    table.map[x] = swap;
  }
  return table;
}

SubstitutionTable Inverse(const SubstitutionTable& table) {
  SubstitutionTable inverse;
  for (int i = 0; i < 256; ++i) inverse.map[table.map[i]] = static_cast<BYTE>(i);
  return inverse;
}

bool IsUsable(const CodecParams* params) {
  return params && params->size == kParamsSize && params->password && *params->password && params->length >= 0 &&
         (params->data || params->length == 0);
}

// Callback after every `step` bytes and once more at the end.
int Substitute(CodecParams* params, const SubstitutionTable& table) {
  int total = params->length;
  int step = params->step;
  if (step <= 0) step = total / 10000;
  if (step <= 0) step = total / 100;
  if (step <= 0) step = 1;
  for (int done = 0; done < total; ++done) {
    params->data[done] = table.map[params->data[done]];
    if (params->progress && (done + 1) % step == 0) params->progress(done + 1, total, params->user);
  }
  if (params->progress) params->progress(total, total, params->user);
  return total;
}

int Transform(const char* password, CByteBuffer& bytes, int offset, bool encode) {
  CodecParams params = {kParamsSize, password, bytes.Data() + offset, bytes.Length() - offset, nullptr, 0, nullptr};
  return encode ? EncodeBuffer(&params) : DecodeBuffer(&params);
}

}  // namespace

int EncodeBuffer(CodecParams* params) {
  if (!IsUsable(params)) return 0;
  return Substitute(params, MakeEncodeTable(params->password));
}

int DecodeBuffer(CodecParams* params) {
  if (!IsUsable(params)) return 0;
  return Substitute(params, Inverse(MakeEncodeTable(params->password)));
}

bool CDbContainer::Open(const CByteBuffer& bytes, const char* password) {
  if (!password || !*password) {
    m_payload = bytes;
    return true;
  }
  if (bytes.Length() <= kMagicLength + kDigestLength) return false;
  if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, reinterpret_cast<const char*>(bytes.Data()), kMagicLength,
                     kMagic, kMagicLength) != CSTR_EQUAL) {
    return false;
  }
  CByteBuffer rest(bytes.Data() + kMagicLength, bytes.Length() - kMagicLength);
  if (rest.Length() != bytes.Length() - kMagicLength) return false;  // out of memory
  Transform(password, rest, 0, false);

  char stored[kMd5HexSize] = {};
  memcpy(stored, rest.Data(), kDigestLength);
  char computed[kMd5HexSize];
  Md5Hex(rest.Data() + kDigestLength, rest.Length() - kDigestLength, computed);
  if (!Md5Equal(stored, computed)) return false;

  if (rest.Erase(0, kDigestLength) < 0) return false;  // out of memory
  m_payload = rest;
  return true;
}

bool CDbContainer::BuildImage(const char* password, CByteBuffer& out) const {
  if (!password || !*password) {
    out = m_payload;
    return true;
  }
  char digest[kMd5HexSize];
  Md5Hex(m_payload.Data(), m_payload.Length(), digest);
  CByteBuffer image(kMagicLength + kDigestLength + m_payload.Length());
  if (!image.TryAppend(kMagic, kMagicLength) || !image.TryAppend(digest, kDigestLength) ||
      !image.TryAppendBuffer(m_payload)) {
    return false;
  }
  Transform(password, image, kMagicLength, true);
  out = image;
  return true;
}

bool CDbContainer::Save(const char* path, const char* password) const {
  CByteBuffer image;
  if (!BuildImage(password, image)) return false;
  return image.WriteToFile(path, false) == image.Length();
}

bool CDbContainer::ReadEntry(const char* name, CByteBuffer& out, unsigned long maxBytes) const {
  return ReadZipEntry(m_payload, name, out, maxBytes);
}

bool CDbContainer::ReadTextEntry(const char* name, std::string& out, unsigned long maxBytes) const {
  CByteBuffer bytes;
  if (!ReadEntry(name, bytes, maxBytes)) return false;
  const char* text = reinterpret_cast<const char*>(bytes.Data());
  out.assign(text, strnlen(text, bytes.Length()));
  return true;
}

bool CDbContainer::WriteEntry(const char* name, const CByteBuffer& bytes) {
  return PutZipEntry(m_payload, name, bytes);
}

bool CDbContainer::WriteTextEntry(const char* name, const char* text) {
  CByteBuffer bytes;
  if (text && !bytes.TryAppend(text, lstrlenA(text))) return false;
  return WriteEntry(name, bytes);
}
