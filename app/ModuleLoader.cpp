#include "app/ModuleLoader.h"

#include <windows.h>

#include <ctime>
#include <string>

#include "BuildConfig.h"
#include "base/Md5.h"
#include "base/Path.h"
#include "base/PlatformCrypto.h"
#include "base/ScopedHandle.h"
#include "base/TextFormat.h"
#include "data/DataPaths.h"
#include "data/DbContainer.h"
#include "data/ZipArchive.h"

const char CModuleLoader::kConfigPassword[] = "5c0e9d27a4f1b83e6d92c7a0b4e5f816";

namespace {

const char kConfigUrlFormat[] = "http://config.%s/loader.db";
const char kRefererFormat[] = "http://config.%s/";
constexpr int kStatusOk = 200;
constexpr int kStatusNotModified = 304;

std::string ProductText(const char* format) {
  std::string text;
  FormatString(text, format, BuildConfig::kProductDomain);
  return text;
}

// The server's entity tag for the configuration: the quoted upper-case MD5 of the file.
std::string EntityTagOf(const CByteBuffer& bytes) {
  std::string digest = Md5Text(bytes);
  CharUpperBuffA(&digest[0], static_cast<DWORD>(digest.size()));
  return "\"" + digest + "\"";
}

// Replaces the file with the bytes, creating its directory first; whether it worked is not asked.
void StoreFile(const char* path, const CByteBuffer& bytes) {
  if (path && CPath(path).CreateParentDirectory()) bytes.WriteToFile(path, false);
}

// The MD5 check, and the SHA-256 check whenever the record carries a well-formed digest; signed,
// a record without one matches nothing.
bool MatchesDigests(const CByteBuffer& bytes, const std::string& md5, const std::string& sha256, bool signedMode) {
  if (!Md5Equal(Md5Text(bytes).c_str(), md5.c_str())) return false;
  if (!IsSha256Text(sha256)) return !signedMode;
  return Sha256Text(bytes) == sha256;
}

// The named file beside the configuration (or the executable), when it matches its digests.
bool ReadCheckedFile(const std::string& name, const std::string& md5, const std::string& sha256, bool signedMode,
                     CByteBuffer& out) {
  CDataPaths paths;
  const char* path = paths.GetLoaderFilePath(name.c_str());
  if (!path || !CPath(path).IsFile()) return false;
  CByteBuffer bytes;
  if (bytes.ReadFromFile(path) <= 0) return false;
  if (!MatchesDigests(bytes, md5, sha256, signedMode)) return false;
  out = bytes;
  return true;
}

// Now as seconds since 1970-01-01T00:00:00Z, by the system clock (time_t has 32 bits here).
long long UtcNow() { return _time64(nullptr); }

// A Get with redirects followed, answered 200: the decoded body, else empty. A body that could not
// be decoded for lack of memory is a failed download (status -1), never a short body.
struct DownloadOptions {
  const char* validator;  // If-None-Match, or null
  int maxBytes;
  ProgressCallback progress;
  DWORD_PTR context;
  HANDLE abort;  // ends the download's waits when set; may be null
};

CByteBuffer DownloadBody(const char* url, const DownloadOptions& options, int* status) {
  CHttpClient client;
  client.SetResponseLimit(options.maxBytes);
  client.SetAbortEvent(options.abort);
  client.AddHeader("Referer", ProductText(kRefererFormat).c_str());
  if (options.validator) client.AddHeader("If-None-Match", options.validator);
  client.SetProgressCallback(options.progress, options.context);
  *status = client.Get(url, true) ? client.GetStatusCode() : -1;
  CByteBuffer body;
  if (*status == kStatusOk && !client.GetResponseBody(body)) *status = -1;
  return body;
}

const char kNoQueryInterfaceText[] = "获取模块接口为空！";
const char kStartLookupFailedText[] = "获取启动模块失败！";
const char kStartEntryNullText[] = "获取启动模块为空！";
const char kDataLookupFailedText[] = "获取数据配置接口失败！";
const char kDataEntryNullText[] = "获取数据配置接口为空！";
const char kLoaderMismatchText[] = "加载器校验失败！";

// The contract's booleans: only the low byte counts.
bool LowByte(BOOL result) { return (result & 0xff) != 0; }

// The system's text for an error code, as the system words it (line break included); empty for 0.
std::string SystemErrorText(DWORD code) {
  if (code == 0) return std::string();
  CLocalMemory buffer;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(buffer.Put()), 0, nullptr);
  if (length == 0 || !buffer.IsValid()) return std::string();
  return std::string(static_cast<const char*>(buffer.Get()), length);
}

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 name devices in every folder, whatever follows the
// first dot and in any letter case; the system also drops spaces before that dot.
bool IsDeviceName(const std::string& name) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  static const char* const kNumbered[] = {"COM", "LPT"};
  std::string stem = name.substr(0, name.find('.'));
  stem.erase(stem.find_last_not_of(' ') + 1);
  for (const char* device : kDevices) {
    if (lstrcmpiA(stem.c_str(), device) == 0) return true;
  }
  for (const char* prefix : kNumbered) {
    if (stem.size() == 4 && _strnicmp(stem.c_str(), prefix, 3) == 0 && stem[3] >= '1' && stem[3] <= '9') return true;
  }
  return false;
}

}  // namespace

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  // The system drops a trailing dot or space: the file would get another name than the one checked.
  if (name.back() == '.' || name.back() == ' ' || IsDeviceName(name)) return false;
  // Stepping by character: the second byte of a Chinese character may look like a backslash.
  for (const char* p = name.c_str(); *p; p = CharNextA(p)) {
    if (CharNextA(p) != p + 1) continue;
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 32 || c == 127 || c == '\\' || c == '/' || c == ':') return false;
  }
  return true;
}

CModuleLoader::CModuleLoader(const char* configPublicKey) : m_publicKey(configPublicKey ? configPublicKey : "") {
  m_config.RequireSignature(m_publicKey);
}

bool CModuleLoader::ParseConfig(const CByteBuffer& bytes) { return ReadConfig(bytes, m_config); }

bool CModuleLoader::ReadConfig(const CByteBuffer& bytes, CLoaderConfig& config) const {
  config.RequireSignature(m_publicKey);
  if (!config.LoadFromMemory(bytes, kConfigPassword, nullptr)) return false;
  const LoaderFile* file = config.Count() == 1 ? config.At(0) : nullptr;
  // Without a packing there may be no package name at all.
  if (!file || !IsPlainFileName(file->file_name) ||
      (!file->compress_file_name.empty() && !IsPlainFileName(file->compress_file_name))) {
    return false;
  }
  return !config.IsSigned() || IsCurrent(*file);
}

// A lower serial than the cached configuration's is a rollback to an older loader; a past expiry
// is a feed frozen by whoever sits on the path.
bool CModuleLoader::IsCurrent(const LoaderFile& file) const {
  unsigned long long serial = 0;
  long long expires = 0;
  if (!file.serial.empty() && !ParseSerial(file.serial, &serial)) return false;
  if (serial < CachedSerial()) return false;
  return file.expires.empty() || (ParseUtcTime(file.expires, &expires) && expires > UtcNow());
}

// The serial of the cached configuration when it verifies; a cache that does not (none, or one
// altered on disk) sets no minimum.
unsigned long long CModuleLoader::CachedSerial() const {
  CByteBuffer cached;
  CLoaderConfig config;
  config.RequireSignature(m_publicKey);
  unsigned long long serial = 0;
  if (ReadCachedConfig(cached) && config.LoadFromMemory(cached, kConfigPassword, nullptr) && config.Count() == 1 &&
      ParseSerial(config.At(0)->serial, &serial)) {
    return serial;
  }
  return 0;
}

const LoaderFile* CModuleLoader::GetLoaderFile() const { return m_config.Count() == 1 ? m_config.At(0) : nullptr; }

bool CModuleLoader::ReadCachedConfig(CByteBuffer& out) const {
  CDataPaths paths;
  const char* cache = paths.GetLoaderConfigPath();
  CByteBuffer cached;
  if (!cache || !CPath(cache).IsFile() || cached.ReadFromFile(cache) <= 0) return false;
  out = cached;
  return true;
}

bool CModuleLoader::DownloadConfig(CByteBuffer& out, ProgressCallback progress, DWORD_PTR context,
                                   int* answered) const {
  out.Clear();
  CDataPaths paths;
  const char* cachePath = paths.GetLoaderConfigPath();
  std::string cache = cachePath ? cachePath : "";
  CByteBuffer cached;
  ReadCachedConfig(cached);
  std::string validator = cached.IsEmpty() ? "" : EntityTagOf(cached);

  int status = -1;
  DownloadOptions options = {validator.empty() ? nullptr : validator.c_str(), kMaxConfigBytes, progress, context,
                             m_abortEvent};
  CByteBuffer body = DownloadBody(ProductText(kConfigUrlFormat).c_str(), options, &status);
  if (answered) *answered = status;
  if (status == kStatusOk) {
    out = body;
    // Unsigned, before any check: it is the next validator. Signed, a refused answer never
    // replaces the last good configuration (nor its validator).
    CLoaderConfig candidate;
    if (!IsSigned() || ReadConfig(out, candidate)) StoreFile(cache.empty() ? nullptr : cache.c_str(), out);
  } else if (status == kStatusNotModified) {
    out = cached;
  }
  return !out.IsEmpty();
}

bool CModuleLoader::CheckInstalled(const LoaderFile& file, CByteBuffer& out) const {
  return ReadCheckedFile(file.file_name, file.file_check, file.file_sha256, IsSigned(), out);
}

bool CModuleLoader::CheckPacked(const LoaderFile& file, CByteBuffer& out) const {
  return ReadCheckedFile(file.compress_file_name, file.compress_file_check, file.compress_file_sha256, IsSigned(), out);
}

bool CModuleLoader::DownloadPackage(const LoaderFile& file, CByteBuffer& out, ProgressCallback progress,
                                    DWORD_PTR context) const {
  int status = -1;
  DownloadOptions options = {nullptr, CIncomingResponse::kMaxResponseBytes, progress, context, m_abortEvent};
  CByteBuffer body = DownloadBody(file.url.c_str(), options, &status);
  if (status == kStatusOk && !file.compress_file_name.empty()) {
    CDataPaths paths;
    StoreFile(paths.GetLoaderFilePath(file.compress_file_name.c_str()), body);
  }
  if (body.IsEmpty()) return false;
  if (CLoaderConfig::HasCompression(file) &&
      !MatchesDigests(body, file.compress_file_check, file.compress_file_sha256, IsSigned())) {
    return false;
  }
  out = body;
  return true;
}

bool CModuleLoader::Unpack(const CByteBuffer& packed, CByteBuffer& out) const {
  const LoaderFile* file = GetLoaderFile();
  if (!file || !CLoaderConfig::HasCompression(*file)) return false;
  CByteBuffer unpacked;
  if (!UnpackEntry(*file, packed, unpacked)) return false;
  // Signed, what gets written and loaded is what the publisher signed, whatever the package held.
  if (IsSigned() && !MatchesDigests(unpacked, file->file_check, file->file_sha256, true)) return false;
  out = unpacked;
  return true;
}

bool CModuleLoader::UnpackEntry(const LoaderFile& file, const CByteBuffer& packed, CByteBuffer& out) {
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

bool CModuleLoader::Fail(const char* text) {
  m_lastError = text;
  return false;
}

bool CModuleLoader::FailLoading(DWORD errorCode) {
  m_lastError = SystemErrorText(errorCode);
  return false;
}

bool CModuleLoader::LookUp(LoaderContract::QueryInterfaceProc query, const GUID& id, void*& entry,
                           const char* failedText, const char* nullText) {
  entry = nullptr;
  if (!LowByte(query(&id, &entry))) return Fail(failedText);
  return entry ? true : Fail(nullText);
}

bool CModuleLoader::LoadModule(const CByteBuffer& loaderBytes) {
  m_startEntry = nullptr;
  m_dataConfigEntry = nullptr;
  const LoaderFile* file = GetLoaderFile();
  if (!file) return false;
  CDataPaths paths;
  const char* path = paths.GetLoaderFilePath(file->file_name.c_str());
  // No data root, or a path over the limit: never let LoadLibraryA search for a bare name.
  if (!path) return FailLoading(ERROR_PATH_NOT_FOUND);
  // The file is read once more right before loading: what the checks saw may since have changed.
  CByteBuffer onDisk;
  if (IsSigned() &&
      (onDisk.ReadFromFile(path) <= 0 || !MatchesDigests(onDisk, file->file_check, file->file_sha256, true))) {
    return Fail(kLoaderMismatchText);
  }

  CLibraryHandle library(LoadLibraryA(path));
  if (!library.IsValid()) return FailLoading(GetLastError());
  // Handed to the process for good: the entries point into it and the workbench runs inside it.
  HMODULE module = library.Release();

  void* query = reinterpret_cast<void*>(GetProcAddress(module, LoaderContract::kQueryInterfaceName));
  if (!query) return Fail(kNoQueryInterfaceText);
  auto queryInterface = reinterpret_cast<LoaderContract::QueryInterfaceProc>(query);
  void* start = nullptr;
  void* dataConfig = nullptr;
  if (!LookUp(queryInterface, LoaderContract::kStartEntryId, start, kStartLookupFailedText, kStartEntryNullText) ||
      !LookUp(queryInterface, LoaderContract::kDataConfigEntryId, dataConfig, kDataLookupFailedText,
              kDataEntryNullText)) {
    return false;
  }
  m_startEntry = reinterpret_cast<LoaderContract::StartEntryProc>(start);
  m_dataConfigEntry = reinterpret_cast<LoaderContract::DataConfigEntryProc>(dataConfig);
  m_loaderBytes = loaderBytes;
  return true;
}

bool CModuleLoader::CallDataConfig(const char* dataDirectory) const {
  return m_dataConfigEntry && LowByte(m_dataConfigEntry(dataDirectory));
}

bool CModuleLoader::CallStart() const { return m_startEntry && LowByte(m_startEntry()); }

bool CModuleLoader::HandOver(const char* dataDirectory) const {
  if (!HasStartEntry() || !CallDataConfig(dataDirectory)) return false;
  CallStart();  // its answer means nothing to the launcher
  return true;
}
