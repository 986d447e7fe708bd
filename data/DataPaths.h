// The product's data directory ("velmor files"), the fixed tree below it, and the rule that a
// file placed beside the executable overrides its counterpart in the tree.
#pragma once

#include <windows.h>

// The data directory: beside the executable if it exists there (portable installation), else in
// the user's documents folder. `out` is unchanged when neither exists.
bool FindDataDirectory(char* out, int size);
// With a path: that directory and its missing parents. With none: the documents folder's
// "velmor files", or the executable directory's when that cannot be made.
bool CreateDataDirectory(const char* path);

// Every later path derives from the root, so a root that does not fit whole (past 259
// characters) is refused and the root stays as it was; null sets it empty.
bool SetDataRoot(const char* path);
const char* GetDataRoot();

bool ExeDirHasFile(const char* name);

// Composes product paths into its own buffer; each call overwrites the previous result.
// Null means no path (no data root, or the result would exceed 259 characters).
class CDataPaths {
public:
  CDataPaths();

  const char* GetSetupIniPath();
  bool SetupIniExists();
  bool CreateSetupIni();

  const char* GetCacheDir();
  const char* GetLoaderDir();
  const char* GetLoaderConfigPath();
  const char* GetLoaderFilePath(const char* name);
  const char* GetConfigDir();
  const char* GetPluginDbPath();
  const char* GetFavoriteDbPath();
  const char* GetAdDbPath();
  const char* GetFaceDbPath();
  const char* GetResDbPath();
  const char* GetModuleDir();
  const char* GetModuleFilePath(const char* name);
  const char* GetDllCacheDir();
  const char* GetDllFilePath(const char* name);

  bool ExeDirHasFile(const char* name);
  const char* GetExeDirFilePath(const char* name);

private:
  const char* Compose(const char* base, const char* relative);
  const char* UnderRoot(const char* relative);
  const char* Result(const char* path);

  char m_result[MAX_PATH];
};
