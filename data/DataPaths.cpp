#include "data/DataPaths.h"

#include <cstring>

#include "base/Path.h"
#include "data/SpecialFolders.h"

namespace {

const char kDataFolderName[] = "velmor files";
const char kSetupIniName[] = "setup.ini";
const char kCacheDir[] = "cache";
const char kLoaderDir[] = "cache\\loader";
const char kLoaderConfigName[] = "loader_config.db";
const char kConfigDir[] = "cache\\config";
const char kPluginDbName[] = "plugin.db";
const char kFavoriteDbName[] = "favorite.db";
const char kAdDbName[] = "ad.db";
const char kFaceDbName[] = "face.db";
const char kResDbName[] = "res.db";
const char kModuleDir[] = "cache\\module";
const char kDllDir[] = "cache\\dll";

char g_dataRoot[MAX_PATH];

bool ExeDirCandidate(CPath& out) { return out.SetToExeDirectory() && out.Append(kDataFolderName); }

bool DocumentsCandidate(CPath& out) {
  return GetSpecialFolder(ESpecialFolder::Documents, out) && out.Append(kDataFolderName);
}

bool ExeDirFile(const char* name, CPath& out) {
  return name && *name && out.SetToExeDirectory() && out.Append(name) && out.IsFile();
}

}  // namespace

bool FindDataDirectory(char* out, int size) {
  CPath candidates[2];
  bool found[2] = {ExeDirCandidate(candidates[0]), DocumentsCandidate(candidates[1])};
  for (int i = 0; i < 2; ++i) {
    if (!found[i] || !candidates[i].IsDirectory()) continue;
    if (static_cast<int>(strlen(candidates[i].c_str())) >= size) return false;
    strcpy(out, candidates[i].c_str());
    return true;
  }
  return false;
}

bool CreateDataDirectory(const char* path) {
  if (path && *path) {
    CPath target(path);
    return !target.IsEmpty() && target.MakeDirectory();
  }
  CPath documents, beside;
  if (DocumentsCandidate(documents) && documents.MakeDirectory()) return true;
  return ExeDirCandidate(beside) && beside.MakeDirectory();
}

bool SetDataRoot(const char* path) {
  if (!path) path = "";
  if (strlen(path) >= sizeof(g_dataRoot)) return false;
  strcpy(g_dataRoot, path);
  return true;
}

const char* GetDataRoot() { return g_dataRoot; }

bool ExeDirHasFile(const char* name) {
  CPath path;
  return ExeDirFile(name, path);
}

CDataPaths::CDataPaths() : m_result{} {}

const char* CDataPaths::Result(const char* path) {
  if (!path) return nullptr;
  lstrcpynA(m_result, path, sizeof(m_result));
  return m_result;
}

const char* CDataPaths::Compose(const char* base, const char* relative) {
  CPath path(base);
  return Result(path.Append(relative));
}

const char* CDataPaths::UnderRoot(const char* relative) { return Compose(GetDataRoot(), relative); }

const char* CDataPaths::GetSetupIniPath() { return UnderRoot(kSetupIniName); }

bool CDataPaths::SetupIniExists() {
  const char* path = GetSetupIniPath();
  return path && CPath(path).IsFile();
}

bool CDataPaths::CreateSetupIni() {
  const char* path = GetSetupIniPath();
  return path && CPath(path).CreateEmptyFile();
}

const char* CDataPaths::GetCacheDir() { return UnderRoot(kCacheDir); }
const char* CDataPaths::GetLoaderDir() { return UnderRoot(kLoaderDir); }
const char* CDataPaths::GetConfigDir() { return UnderRoot(kConfigDir); }
const char* CDataPaths::GetPluginDbPath() { return Compose(GetConfigDir(), kPluginDbName); }
const char* CDataPaths::GetFavoriteDbPath() { return Compose(GetConfigDir(), kFavoriteDbName); }
const char* CDataPaths::GetAdDbPath() { return Compose(GetConfigDir(), kAdDbName); }
const char* CDataPaths::GetFaceDbPath() { return Compose(GetConfigDir(), kFaceDbName); }
const char* CDataPaths::GetResDbPath() { return Compose(GetConfigDir(), kResDbName); }
const char* CDataPaths::GetModuleDir() { return UnderRoot(kModuleDir); }

const char* CDataPaths::GetDllCacheDir() { return *GetDataRoot() ? UnderRoot(kDllDir) : nullptr; }

const char* CDataPaths::GetLoaderConfigPath() {
  if (const char* beside = GetExeDirFilePath(kLoaderConfigName)) return beside;
  return Compose(GetLoaderDir(), kLoaderConfigName);
}

const char* CDataPaths::GetLoaderFilePath(const char* name) {
  if (const char* beside = GetExeDirFilePath(name)) return beside;
  const char* config = GetLoaderConfigPath();
  return config ? Compose(CPath(config).Parent().c_str(), name) : nullptr;
}

const char* CDataPaths::GetModuleFilePath(const char* name) {
  if (const char* beside = GetExeDirFilePath(name)) return beside;
  return Compose(GetModuleDir(), name);
}

const char* CDataPaths::GetDllFilePath(const char* name) {
  if (const char* beside = GetExeDirFilePath(name)) return beside;
  return Compose(GetDllCacheDir(), name);
}

bool CDataPaths::ExeDirHasFile(const char* name) { return ::ExeDirHasFile(name); }

const char* CDataPaths::GetExeDirFilePath(const char* name) {
  CPath path;
  return ExeDirFile(name, path) ? Result(path.c_str()) : nullptr;
}
