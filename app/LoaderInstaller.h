// The loader library on disk: whether the installed library or a package left from an earlier run
// is intact, the package's download, unpacking, and every write of the launcher's files (the
// cached configuration, the package, the library) in one place.
#pragma once

#include <windows.h>

#include <string>

#include "base/ByteBuffer.h"
#include "base/ScopedHandle.h"
#include "data/LoaderConfig.h"
#include "net/HttpClient.h"

class CLoaderInstaller {
public:
  // Signed, every file must match the record's SHA-256 as well, and a record without one matches
  // nothing.
  explicit CLoaderInstaller(bool signedMode) : m_signed(signedMode) {}

  void SetAbortEvent(HANDLE event) { m_abortEvent = event; }
  void SetHttps(bool on) { m_https = on; }  // the package over TLS, never a step down to http
  void SetSystemProxy(bool on) { m_systemProxy = on; }  // see CHttpClient::SetSystemProxy

  // The installed library, or its package, when its MD5 matches (and its SHA-256, when the record
  // carries one).
  bool CheckInstalled(const LoaderFile& file, CByteBuffer& out) const;
  bool CheckPacked(const LoaderFile& file, CByteBuffer& out) const;
  // What a package download brought.
  enum class EDownload { kPackage, kNothing, kMismatch };
  // The package from the record's URL; with a packing, it must match its MD5 and SHA-256 (else
  // kMismatch). Only a package that passed is kept beside the configuration.
  EDownload DownloadPackage(const LoaderFile& file, CByteBuffer& out, ProgressCallback progress,
                            DWORD_PTR context) const;
  // The library out of its packed form, as the record says: the entry named `file_name` of a zip
  // archive (entry password `compress_user_password`) or of a container (that password). Signed,
  // the library must match the record's digests as well.
  bool Unpack(const LoaderFile& file, const CByteBuffer& packed, CByteBuffer& out) const;

  // Every write replaces its file whole (ReplaceFileAtomically): a start that ends mid-write
  // leaves the old file or the new one.
  // Replaces the library the record names; false unless every byte was written.
  bool InstallLibrary(const LoaderFile& file, const CByteBuffer& bytes) const;
  // Replaces the cached configuration; whether it worked is not asked.
  static void StoreConfig(const CByteBuffer& bytes);
  // Deletes what writes that never finished left beside the configuration, the package and the
  // library the record names.
  static void RemoveLeftovers(const LoaderFile& file);

  // Where the record's library is (beside the executable when that file exists, else beside the
  // cached configuration); empty when there is no path (no data root, or one over the limit).
  static std::string LibraryPath(const LoaderFile& file);
  // Opens the library at `path` so that nobody can write, replace or delete it while `held` is
  // open, and (signed) checks what that handle reads against the record's digests: held across
  // the load, the library that loads is the one that was checked. kUnopened leaves the system's
  // error code.
  enum class EHold { kHeld, kUnopened, kMismatch };
  EHold HoldLibrary(const LoaderFile& file, const std::string& path, CFileHandle& held) const;

private:
  static bool UnpackEntry(const LoaderFile& file, const CByteBuffer& packed, CByteBuffer& out);
  bool ReadChecked(const std::string& name, const std::string& md5, const std::string& sha256, CByteBuffer& out) const;
  bool Matches(const CByteBuffer& bytes, const std::string& md5, const std::string& sha256) const;

  bool m_signed;
  HANDLE m_abortEvent = nullptr;
  bool m_https = false;
  bool m_systemProxy = false;
};
