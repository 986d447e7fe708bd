// The module loader: the loader configuration, and later the loaded library's entries.
#pragma once

#include "app/LoaderConfig.h"
#include "base/ByteBuffer.h"
#include "net/HttpClient.h"

class CModuleLoader {
public:
  static const char kConfigPassword[];

  virtual ~CModuleLoader() = default;

  // Loads the configuration container; usable only with exactly one record whose file names are
  // plain names (they come from the network and are joined to our directories).
  bool ParseConfig(const CByteBuffer& bytes);
  const LoaderFile* GetLoaderFile() const;
  const CLoaderConfig& Config() const { return m_config; }

  // One attempt at the configuration: fresh from the server (then cached before anything checks
  // it) or, when the server answers 304 to our cache's MD5, the cached bytes. True when `out`
  // holds bytes to use.
  bool DownloadConfig(CByteBuffer& out, ProgressCallback progress, DWORD_PTR context) const;
  // The installed library, or its package left from an earlier run, when its MD5 matches.
  bool CheckInstalled(const LoaderFile& file, CByteBuffer& out) const;
  bool CheckPacked(const LoaderFile& file, CByteBuffer& out) const;
  // The package from the record's URL, kept beside the configuration; with a packing, it must
  // match its MD5.
  bool DownloadPackage(const LoaderFile& file, CByteBuffer& out, ProgressCallback progress, DWORD_PTR context) const;

  // The library out of its packed form, as the record says: the entry named `file_name` of a zip
  // archive (entry password `compress_user_password`) or of a container (that password).
  bool Unpack(const CByteBuffer& packed, CByteBuffer& out) const;

private:
  CLoaderConfig m_config;
};

// A name without any directory part: not empty, not "." or "..", no \ / : or control characters.
bool IsPlainFileName(const std::string& name);
