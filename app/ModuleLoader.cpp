#include "app/ModuleLoader.h"

#include <windows.h>

#include "data/DbContainer.h"
#include "data/ZipArchive.h"

const char CModuleLoader::kConfigPassword[] = "5c0e9d27a4f1b83e6d92c7a0b4e5f816";

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  // Stepping by character: the second byte of a Chinese character may look like a backslash.
  for (const char* p = name.c_str(); *p; p = CharNextA(p)) {
    if (CharNextA(p) != p + 1) continue;
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 32 || c == 127 || c == '\\' || c == '/' || c == ':') return false;
  }
  return true;
}

bool CModuleLoader::ParseConfig(const CByteBuffer& bytes) {
  if (!m_config.LoadFromMemory(bytes, kConfigPassword, nullptr)) return false;
  const LoaderFile* file = GetLoaderFile();
  return file && IsPlainFileName(file->file_name) && IsPlainFileName(file->compress_file_name);
}

const LoaderFile* CModuleLoader::GetLoaderFile() const { return m_config.Count() == 1 ? m_config.At(0) : nullptr; }

bool CModuleLoader::Unpack(const CByteBuffer& packed, CByteBuffer& out) const {
  const LoaderFile* file = GetLoaderFile();
  if (!file || !CLoaderConfig::HasCompression(*file)) return false;
  if (CLoaderConfig::IsZip(*file)) {
    CZipReader zip;
    if (!zip.Open(packed)) return false;
    int index = zip.Find(file->file_name.c_str());
    unsigned long size = 0;
    if (index < 0 || !zip.GetEntry(index, nullptr, &size) || size < 1) return false;
    return zip.Extract(index, out, file->compress_user_password.c_str());
  }
  if (CLoaderConfig::IsContainer(*file)) {
    CDbContainer container;
    return container.Open(packed, file->compress_user_password.c_str()) &&
           container.ReadEntry(file->file_name.c_str(), out);
  }
  return false;
}
