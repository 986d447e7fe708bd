#include "app/ModuleLoader.h"

#include "app/Download.h"

const char CModuleLoader::kConfigPassword[] = "5c0e9d27a4f1b83e6d92c7a0b4e5f816";

namespace {

const char kLoaderMismatchText[] = "加载器校验失败！";

}  // namespace

CModuleLoader::CModuleLoader(const char* configPublicKey)
    : m_policy(configPublicKey ? configPublicKey : ""), m_installer(m_policy.IsSigned()) {}

void CModuleLoader::SetAbortEvent(HANDLE event) {
  m_source.SetAbortEvent(event);
  m_installer.SetAbortEvent(event);
}

bool CModuleLoader::ParseConfig(const CByteBuffer& bytes) {
  CByteBuffer cached;
  if (IsSigned()) ReadCachedConfig(cached);  // only a keyed launcher has a floor to take from it
  return Decode(bytes, cached);
}

bool CModuleLoader::Decode(const CByteBuffer& bytes, const CByteBuffer& cached) {
  unsigned long long floor = SerialFloorFor(bytes, cached);
  if (m_decoded && floor == m_decodedFloor && SameBytes(bytes, m_decodedBytes)) return m_taken;
  m_taken = m_policy.Decode(bytes, kConfigPassword, floor, m_config);
  m_decodedBytes = bytes;
  m_decodedFloor = floor;
  m_decoded = true;
  return m_taken;
}

// Signed, a configuration may not be older than the cached one: the cache's serial is the floor,
// read once for each cached image. The cached copy itself is never older than itself.
unsigned long long CModuleLoader::SerialFloorFor(const CByteBuffer& bytes, const CByteBuffer& cached) {
  if (!IsSigned()) return 0;
  if (SameBytes(bytes, cached)) return 0;
  if (!m_floorKnown || !SameBytes(cached, m_floorSource)) {
    m_floor = m_policy.FloorSetBy(cached, kConfigPassword);
    m_floorSource = cached;
    m_floorKnown = true;
  }
  return m_floor;
}

// The cache now holds `bytes`, which the policy took: their serial is the floor from now on.
void CModuleLoader::StoreAccepted(const CByteBuffer& bytes) {
  CLoaderInstaller::StoreConfig(bytes);
  unsigned long long serial = 0;
  const LoaderFile* file = GetLoaderFile();
  m_floorSource = bytes;
  m_floorKnown = file && ParseSerial(file->serial, &serial);
  m_floor = serial;
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
  // The file is read once more right before loading: what the checks saw may since have changed.
  if (IsSigned() && !m_installer.MatchesLibrary(*file, path)) return m_handOff.Fail(kLoaderMismatchText);
  if (!m_handOff.Load(path)) return false;
  m_loaderBytes = loaderBytes;
  return true;
}
