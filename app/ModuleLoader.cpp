#include "app/ModuleLoader.h"

#include <algorithm>

#include "app/Download.h"
#include "net/Url.h"
#include "data/AcceptedSerial.h"

const char CModuleLoader::kConfigPassword[] = "5c0e9d27a4f1b83e6d92c7a0b4e5f816";

namespace {

const char kLoaderMismatchText[] = "加载器校验失败！";

}  // namespace

CModuleLoader::CModuleLoader(const char* configPublicKey, unsigned long long minSerial, EFloor floor)
    : m_policy(configPublicKey ? configPublicKey : ""),
      m_installer(m_policy.IsSigned()),
      m_minSerial(minSerial),
      m_floorSource(floor) {}

void CModuleLoader::SetHttps(bool on) {
  m_https = on;
  m_source.SetHttps(on);
  m_installer.SetHttps(on);
}

void CModuleLoader::SetSystemProxy(bool on) {
  m_source.SetSystemProxy(on);
  m_installer.SetSystemProxy(on);
}

void CModuleLoader::SetAbortEvent(HANDLE event) {
  m_source.SetAbortEvent(event);
  m_installer.SetAbortEvent(event);
}

bool CModuleLoader::ParseConfig(const CByteBuffer& bytes) {
  CByteBuffer cached;
  // Only a keyed launcher has a floor to take from the cache.
  if (IsSigned() && m_floorSource == EFloor::kThisUser) ReadCachedConfig(cached);
  return Decode(bytes, cached);
}

bool CModuleLoader::Decode(const CByteBuffer& bytes, const CByteBuffer& cached) {
  if (!m_decoded || !SameBytes(bytes, m_decodedBytes)) {
    m_taken = m_policy.Decode(bytes, kConfigPassword, m_config);
    m_decodedBytes = bytes;
    m_decoded = true;
  }
  if (!m_taken) return false;
  if (m_https && CUrl(GetLoaderFile()->url.c_str()).scheme != CUrl::kSchemeHttps) return false;
  if (!IsSigned()) return true;
  return CConfigPolicy::SerialOf(*GetLoaderFile()) >= SerialFloorFor(bytes, cached);
}

// Signed, a configuration may not be older than the build's minimum, than what this user accepted
// before (the registry outlives a lost cache) or than the cached configuration. The cached copy
// itself is never older than itself.
unsigned long long CModuleLoader::SerialFloorFor(const CByteBuffer& bytes, const CByteBuffer& cached) {
  if (m_floorSource == EFloor::kBuildMinimumOnly) return m_minSerial;
  unsigned long long floor = std::max(m_minSerial, AcceptedSerial::Read());
  return SameBytes(bytes, cached) ? floor : std::max(floor, CacheFloor(cached));
}

// Read once for each cached image.
unsigned long long CModuleLoader::CacheFloor(const CByteBuffer& cached) {
  if (!m_cacheFloorKnown || !SameBytes(cached, m_cacheFloorBytes)) {
    m_cacheFloor = m_policy.FloorSetBy(cached, kConfigPassword);
    m_cacheFloorBytes = cached;
    m_cacheFloorKnown = true;
  }
  return m_cacheFloor;
}

// The cache now holds `bytes`, which the policy took: their serial is the floor from now on, here
// and, should the cache be lost, in the registry.
void CModuleLoader::StoreAccepted(const CByteBuffer& bytes) {
  CLoaderInstaller::StoreConfig(bytes);
  m_cacheFloorBytes = bytes;
  m_cacheFloor = CConfigPolicy::SerialOf(*GetLoaderFile());
  m_cacheFloorKnown = true;
  AcceptedSerial::Raise(m_cacheFloor);
}

const LoaderFile* CModuleLoader::GetLoaderFile() const { return m_config.Count() == 1 ? m_config.At(0) : nullptr; }

bool CModuleLoader::DownloadConfig(CByteBuffer& out, ProgressCallback progress, DWORD_PTR context, int* answered) {
  out.Clear();
  CByteBuffer cached;
  ReadCachedConfig(cached);
  CConfigSource::Answer answer = m_source.Fetch(cached, progress, context);
  if (answered) *answered = answer.status;
  if (answer.status == kStatusOk) {
    // Unsigned, before any check: it is the next validator. Signed, a refused answer never
    // replaces the last good configuration (nor its validator).
    if (!IsSigned()) {
      CLoaderInstaller::StoreConfig(answer.bytes);
    } else if (Decode(answer.bytes, cached)) {
      StoreAccepted(answer.bytes);
    }
  }
  out = answer.bytes;
  return !out.IsEmpty();
}

bool CModuleLoader::Unpack(const CByteBuffer& packed, CByteBuffer& out) const {
  const LoaderFile* file = GetLoaderFile();
  return file && m_installer.Unpack(*file, packed, out);
}

bool CModuleLoader::InstallLoader(const CByteBuffer& bytes) const {
  const LoaderFile* file = GetLoaderFile();
  return file && m_installer.InstallLibrary(*file, bytes);
}

bool CModuleLoader::LoadModule(const CByteBuffer& loaderBytes) {
  m_handOff.Clear();
  const LoaderFile* file = GetLoaderFile();
  if (!file) return false;
  std::string path = CLoaderInstaller::LibraryPath(*file);
  // No data root, or a path over the limit: never let LoadLibraryA search for a bare name.
  if (path.empty()) return m_handOff.FailWithSystemError(ERROR_PATH_NOT_FOUND);
  // What the checks saw may since have changed: signed, the file is read once more, from a handle
  // that keeps it as it is until it has loaded.
  CFileHandle held;
  switch (m_installer.HoldLibrary(*file, path, held)) {
    case CLoaderInstaller::EHold::kHeld: break;
    case CLoaderInstaller::EHold::kUnopened: return m_handOff.FailWithSystemError(GetLastError());
    case CLoaderInstaller::EHold::kMismatch: return m_handOff.Fail(kLoaderMismatchText);
  }
  if (!m_handOff.Load(path)) return false;
  m_loaderBytes = loaderBytes;
  return true;
}
