// Which loader configurations a launcher takes. Beside the reader, which checks the signature:
// this decides what a configuration that reads must also be.
#pragma once

#include <string>
#include <utility>

#include "base/ByteBuffer.h"
#include "data/LoaderConfig.h"

// A name without any directory part: not empty, not "." or "..", no \ / : or control characters,
// not a device name (CON, NUL, COM1...; with any extension), not ending in a dot or a space.
bool IsPlainFileName(const std::string& name);

class CConfigPolicy {
public:
  // With a public key (128 hexadecimal digits), only configurations signed with its private key
  // count; empty: unsigned.
  explicit CConfigPolicy(std::string publicKey) : m_publicKey(std::move(publicKey)) {}

  bool IsSigned() const { return !m_publicKey.empty(); }

  // Reads `bytes` into `config` and takes it when it holds exactly one record whose file names are
  // plain names (they come from the network and are joined to our directories). Signed, it must
  // also verify, carry a well-formed serial and an expiry, and not have expired. Whether its
  // serial is high enough is the caller's question (SerialOf), since the floor moves.
  bool Decode(const CByteBuffer& bytes, const char* password, CLoaderConfig& config) const;
  // The serial of a configuration that verifies: the floor it sets for the next one (0: none).
  unsigned long long FloorSetBy(const CByteBuffer& bytes, const char* password) const;
  // The serial of a record Decode took; a record without one counts as 0.
  static unsigned long long SerialOf(const LoaderFile& file);

  // How many configuration images were decoded in this process: decoding (and verifying) is the
  // costly part of a start, and the tests hold a start to one decode per image.
  static long DecodesSoFar();

private:
  static bool IsCurrent(const LoaderFile& file);

  std::string m_publicKey;
};
