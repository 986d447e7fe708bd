// The module loader: the facade a start talks to. It holds the loader configuration of this start
// and the loaded library's entries, and leaves each concern to its own room: where the
// configuration comes from (CConfigSource), which one counts (CConfigPolicy), the files on disk
// (CLoaderInstaller) and the library in the process (CModuleHandOff).
#pragma once

#include <string>

#include "BuildConfig.h"
#include "app/ConfigSource.h"
#include "app/LoaderInstaller.h"
#include "app/ModuleHandOff.h"
#include "base/ByteBuffer.h"
#include "data/ConfigPolicy.h"
#include "data/LoaderConfig.h"
#include "net/HttpClient.h"

class CModuleLoader {
public:
  static const char kConfigPassword[];
  static constexpr int kMaxConfigBytes = CConfigSource::kMaxConfigBytes;

  // Where a keyed loader's serial floor comes from: this user's state (the cached configuration and
  // the highest serial accepted, kept in the registry) or nothing but the build's minimum, as for a
  // tool that checks a configuration as a fresh install would.
  enum class EFloor { kThisUser, kBuildMinimumOnly };

  // With a public key (128 hexadecimal digits), only configurations signed with its private key
  // count; empty: unsigned, as without the key. Signed, no serial below `minSerial` counts.
  explicit CModuleLoader(const char* configPublicKey = BuildConfig::kConfigPublicKey,
                         unsigned long long minSerial = BuildConfig::kMinSerial, EFloor floor = EFloor::kThisUser);
  virtual ~CModuleLoader() = default;

  // Loads the configuration container; usable only with exactly one record whose file names are
  // plain names. Signed, it must also verify, carry an expiry that has not passed, and not be older
  // (by serial) than the floor: the build's minimum, the highest serial this user accepted and the
  // cached configuration's. The same bytes are decoded once, however often asked.
  bool ParseConfig(const CByteBuffer& bytes);
  bool IsSigned() const { return m_policy.IsSigned(); }
  const LoaderFile* GetLoaderFile() const;
  const CLoaderConfig& Config() const { return m_config; }

  // An event that, once set, ends the waits of every download at once (null: none).
  void SetAbortEvent(HANDLE event);
  // On, the configuration and the package come over https only, and a record whose url is not
  // https makes the configuration unusable.
  void SetHttps(bool on);
  // On, downloads go through the proxy the user's settings choose and answer proxy logons.
  void SetSystemProxy(bool on);

  // One attempt at the configuration: fresh from the server (then cached before anything checks
  // it; signed, only once it passes ParseConfig's checks) or, when the server answers 304 to our
  // cache's MD5, the cached bytes. Signed, an accepted serial raises this user's floor. True when
  // `out` holds bytes to use. `status`, when given,
  // receives the answer's status (-1: none came).
  bool DownloadConfig(CByteBuffer& out, ProgressCallback progress, DWORD_PTR context, int* status = nullptr);
  // The configuration cached by the last download that brought one; false when there is none.
  bool ReadCachedConfig(CByteBuffer& out) const { return CConfigSource::ReadCached(out); }
  bool CheckInstalled(const LoaderFile& file, CByteBuffer& out) const { return m_installer.CheckInstalled(file, out); }
  bool CheckPacked(const LoaderFile& file, CByteBuffer& out) const { return m_installer.CheckPacked(file, out); }
  CLoaderInstaller::EDownload DownloadPackage(const LoaderFile& file, CByteBuffer& out, ProgressCallback progress,
                                              DWORD_PTR context) const {
    return m_installer.DownloadPackage(file, out, progress, context);
  }
  // The library of this start's record out of its packed form (see CLoaderInstaller::Unpack).
  bool Unpack(const CByteBuffer& packed, CByteBuffer& out) const;
  // Writes the library of this start's record; false unless every byte was written.
  bool InstallLoader(const CByteBuffer& bytes) const;

  // Loads the library the record names (beside the executable when that file exists, else beside
  // the cached configuration) and asks it for both entries; keeps `loaderBytes` on success.
  // Signed, a file that does not match the record's digests is never loaded.
  bool LoadModule(const CByteBuffer& loaderBytes);
  bool HasStartEntry() const { return m_handOff.HasStartEntry(); }
  bool CallDataConfig(const char* dataDirectory) const { return m_handOff.CallDataConfig(dataDirectory); }
  bool CallStart() const { return m_handOff.CallStart(); }
  // On the main thread after loading: the data entry, and the start entry when that agrees.
  // True when the start entry ran.
  bool HandOver(const char* dataDirectory) const { return m_handOff.HandOver(dataDirectory); }
  // Why the last LoadModule failed (the system's message or one of ours); empty when none.
  const std::string& GetLastErrorText() const { return m_handOff.LastErrorText(); }
  const CByteBuffer& LoaderBytes() const { return m_loaderBytes; }

private:
  // `cached`: the cached configuration as the caller read it, whose serial is the floor.
  bool Decode(const CByteBuffer& bytes, const CByteBuffer& cached);
  unsigned long long SerialFloorFor(const CByteBuffer& bytes, const CByteBuffer& cached);
  unsigned long long CacheFloor(const CByteBuffer& cached);
  void StoreAccepted(const CByteBuffer& bytes);

  CByteBuffer m_loaderBytes;
  CLoaderConfig m_config;
  CConfigPolicy m_policy;
  CConfigSource m_source;
  CLoaderInstaller m_installer;
  CModuleHandOff m_handOff;

  unsigned long long m_minSerial;
  EFloor m_floorSource;

  // What m_config was decoded from and whether the policy took it (the floor aside, which moves):
  // asked again for the same bytes, the answer stands.
  CByteBuffer m_decodedBytes;
  bool m_decoded = false;
  bool m_taken = false;
  bool m_https = false;
  // The serial floor set by the cache, for the cached bytes it was read from.
  CByteBuffer m_cacheFloorBytes;
  bool m_cacheFloorKnown = false;
  unsigned long long m_cacheFloor = 0;
};
