#include "app/LoaderInstaller.h"

#include "app/Download.h"
#include "base/FileUtil.h"
#include "base/Md5.h"
#include "base/Path.h"
#include "base/PlatformCrypto.h"
#include "data/DataPaths.h"
#include "data/DbContainer.h"
#include "data/ZipArchive.h"

namespace {

// Replaces the file with the bytes, creating its directory first; whether it worked is not asked.
void StoreFile(const char* path, const CByteBuffer& bytes) {
  if (path && CPath(path).CreateParentDirectory()) ReplaceFileAtomically(path, bytes);
}

}  // namespace

// The MD5 check, and the SHA-256 check whenever the record carries a well-formed digest; signed,
// a record without one matches nothing.
bool CLoaderInstaller::Matches(const CByteBuffer& bytes, const std::string& md5, const std::string& sha256) const {
  if (!Md5Equal(Md5Text(bytes).c_str(), md5.c_str())) return false;
  if (!IsSha256Text(sha256)) return !m_signed;
  return Sha256Text(bytes) == sha256;
}

// The named file beside the configuration (or the executable), when it matches its digests.
bool CLoaderInstaller::ReadChecked(const std::string& name, const std::string& md5, const std::string& sha256,
                                   CByteBuffer& out) const {
  CDataPaths paths;
  const char* path = paths.GetLoaderFilePath(name.c_str());
  if (!path || !CPath(path).IsFile()) return false;
  CByteBuffer bytes;
  if (bytes.ReadFromFile(path) <= 0) return false;
  if (!Matches(bytes, md5, sha256)) return false;
  out = bytes;
  return true;
}

bool CLoaderInstaller::CheckInstalled(const LoaderFile& file, CByteBuffer& out) const {
  return ReadChecked(file.file_name, file.file_check, file.file_sha256, out);
}

bool CLoaderInstaller::CheckPacked(const LoaderFile& file, CByteBuffer& out) const {
  return ReadChecked(file.compress_file_name, file.compress_file_check, file.compress_file_sha256, out);
}

CLoaderInstaller::EDownload CLoaderInstaller::DownloadPackage(const LoaderFile& file, CByteBuffer& out,
                                                              ProgressCallback progress, DWORD_PTR context) const {
  DownloadOptions options;
  options.progress = progress;
  options.context = context;
  options.abort = m_abortEvent;
  options.https = m_https;
  options.systemProxy = m_systemProxy;
  int status = kNoAnswer;
  CByteBuffer body = DownloadBody(file.url.c_str(), options, &status);
  if (body.IsEmpty()) return EDownload::kNothing;
  if (CLoaderConfig::HasCompression(file) && !Matches(body, file.compress_file_check, file.compress_file_sha256)) {
    return EDownload::kMismatch;
  }
  if (!file.compress_file_name.empty()) {
    CDataPaths paths;
    StoreFile(paths.GetLoaderFilePath(file.compress_file_name.c_str()), body);
  }
  out = body;
  return EDownload::kPackage;
}

bool CLoaderInstaller::Unpack(const LoaderFile& file, const CByteBuffer& packed, CByteBuffer& out) const {
  if (!CLoaderConfig::HasCompression(file)) return false;
  CByteBuffer unpacked;
  if (!UnpackEntry(file, packed, unpacked)) return false;
  // Signed, what gets written and loaded is what the publisher signed, whatever the package held.
  if (m_signed && !Matches(unpacked, file.file_check, file.file_sha256)) return false;
  out = unpacked;
  return true;
}

bool CLoaderInstaller::UnpackEntry(const LoaderFile& file, const CByteBuffer& packed, CByteBuffer& out) {
  if (CLoaderConfig::IsZip(file)) {
    CZipReader zip;
    if (!zip.Open(packed)) return false;
    int index = zip.Find(file.file_name.c_str());
    unsigned long size = 0;
    if (index < 0 || !zip.GetEntry(index, nullptr, &size) || size < 1) return false;
    return zip.Extract(index, out, file.compress_user_password.c_str());
  }
  if (CLoaderConfig::IsContainer(file)) {
    CDbContainer container;
    return container.Open(packed, file.compress_user_password.c_str()) &&
           container.ReadEntry(file.file_name.c_str(), out);
  }
  return false;
}

bool CLoaderInstaller::InstallLibrary(const LoaderFile& file, const CByteBuffer& bytes) const {
  std::string path = LibraryPath(file);
  return !path.empty() && ReplaceFileAtomically(path.c_str(), bytes);
}

void CLoaderInstaller::StoreConfig(const CByteBuffer& bytes) {
  CDataPaths paths;
  StoreFile(paths.GetLoaderConfigPath(), bytes);
}

void CLoaderInstaller::RemoveLeftovers(const LoaderFile& file) {
  CDataPaths paths;
  RemovePartialFile(paths.GetLoaderConfigPath());
  RemovePartialFile(LibraryPath(file).c_str());
  if (!file.compress_file_name.empty()) RemovePartialFile(paths.GetLoaderFilePath(file.compress_file_name.c_str()));
}

std::string CLoaderInstaller::LibraryPath(const LoaderFile& file) {
  CDataPaths paths;
  const char* path = paths.GetLoaderFilePath(file.file_name.c_str());
  return path ? path : "";
}

CLoaderInstaller::EHold CLoaderInstaller::HoldLibrary(const LoaderFile& file, const std::string& path,
                                                      CFileHandle& held) const {
  held.Reset(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held.IsValid()) return EHold::kUnopened;
  if (!m_signed) return EHold::kHeld;
  CByteBuffer onDisk;
  bool matches = onDisk.ReadFromHandle(held.Get()) > 0 && Matches(onDisk, file.file_check, file.file_sha256);
  return matches ? EHold::kHeld : EHold::kMismatch;
}
