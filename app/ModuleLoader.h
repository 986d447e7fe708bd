// The module loader: the loader configuration, the loaded library's two entries and the hand-over.
#pragma once

#include <string>

#include "BuildConfig.h"
#include "data/LoaderConfig.h"
#include "app/LoaderContract.h"
#include "base/ByteBuffer.h"
#include "net/HttpClient.h"

class CModuleLoader {
public:
  static const char kConfigPassword[];
  // A configuration is a few hundred bytes: a larger answer (or a gzip bomb) is refused early.
  static constexpr int kMaxConfigBytes = 16 * 1024 * 1024;

  // With a public key (128 hexadecimal digits), only configurations signed with its private key
  // count; empty: unsigned, as without the key.
  explicit CModuleLoader(const char* configPublicKey = BuildConfig::kConfigPublicKey);
  virtual ~CModuleLoader() = default;

  // Loads the configuration container; usable only with exactly one record whose file names are
  // plain names (they come from the network and are joined to our directories). Signed, it must
  // also verify, not be older (by serial) than the cached configuration and not have expired.
  bool ParseConfig(const CByteBuffer& bytes);
  bool IsSigned() const { return m_config.IsSigned(); }
  const LoaderFile* GetLoaderFile() const;
  const CLoaderConfig& Config() const { return m_config; }

  // An event that, once set, ends the waits of every download at once (null: none).
  void SetAbortEvent(HANDLE event) { m_abortEvent = event; }

  // One attempt at the configuration: fresh from the server (then cached before anything checks
  // it; signed, only once it passes ParseConfig's checks) or, when the server answers 304 to our
  // cache's MD5, the cached bytes. True when `out` holds bytes to use. `status`, when given,
  // receives the answer's status (-1: none came).
  bool DownloadConfig(CByteBuffer& out, ProgressCallback progress, DWORD_PTR context, int* status = nullptr) const;
  // The configuration cached by the last download that brought one; false when there is none.
  bool ReadCachedConfig(CByteBuffer& out) const;
  // The installed library, or its package left from an earlier run, when its MD5 matches (and its
  // SHA-256, when the record carries one).
  bool CheckInstalled(const LoaderFile& file, CByteBuffer& out) const;
  bool CheckPacked(const LoaderFile& file, CByteBuffer& out) const;
  // The package from the record's URL, kept beside the configuration; with a packing, it must
  // match its MD5 and SHA-256.
  bool DownloadPackage(const LoaderFile& file, CByteBuffer& out, ProgressCallback progress, DWORD_PTR context) const;

  // The library out of its packed form, as the record says: the entry named `file_name` of a zip
  // archive (entry password `compress_user_password`) or of a container (that password). Signed,
  // the library must match the record's digests as well.
  bool Unpack(const CByteBuffer& packed, CByteBuffer& out) const;

  // Loads the library the record names (beside the executable when that file exists, else beside
  // the cached configuration) and asks it for both entries; keeps `loaderBytes` on success. The
  // library is never unloaded, also not after a failed lookup: the process keeps it until exit.
  // Signed, a file that does not match the record's digests is never loaded.
  bool LoadModule(const CByteBuffer& loaderBytes);
  bool HasStartEntry() const { return m_startEntry != nullptr; }
  // False when the entry is not set, else the entry's answer.
  bool CallDataConfig(const char* dataDirectory) const;
  bool CallStart() const;
  // On the main thread after loading: the data entry, and the start entry when that agrees.
  // True when the start entry ran.
  bool HandOver(const char* dataDirectory) const;
  // Why the last LoadModule failed (the system's message or one of ours); empty when none.
  const std::string& GetLastErrorText() const { return m_lastError; }
  const CByteBuffer& LoaderBytes() const { return m_loaderBytes; }

private:
  bool ReadConfig(const CByteBuffer& bytes, CLoaderConfig& config) const;
  bool IsCurrent(const LoaderFile& file) const;
  unsigned long long CachedSerial() const;
  static bool UnpackEntry(const LoaderFile& file, const CByteBuffer& packed, CByteBuffer& out);
  bool Fail(const char* text);
  bool FailLoading(DWORD errorCode);
  bool LookUp(LoaderContract::QueryInterfaceProc query, const GUID& id, void*& entry, const char* failedText,
              const char* nullText);

  CByteBuffer m_loaderBytes;
  CLoaderConfig m_config;
  LoaderContract::StartEntryProc m_startEntry = nullptr;
  LoaderContract::DataConfigEntryProc m_dataConfigEntry = nullptr;
  std::string m_lastError;
  HANDLE m_abortEvent = nullptr;
  std::string m_publicKey;
};

// A name without any directory part: not empty, not "." or "..", no \ / : or control characters,
// not a device name (CON, NUL, COM1...; with any extension), not ending in a dot or a space.
bool IsPlainFileName(const std::string& name);
