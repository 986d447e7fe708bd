#include "data/Registry.h"

#include <cstring>

namespace {

struct RootName {
  const char* name;
  HKEY key;
};

const RootName kRoots[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},     {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},   {"HKEY_USERS", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

// The root and a non-empty sub-key path, or null: checked before the registry is touched.
const char* ValidSubKey(const char* path, HKEY* root) {
  const char* subKey = SplitRegistryPath(path, root);
  return subKey && *subKey ? subKey : nullptr;
}

}  // namespace

const char* SplitRegistryPath(const char* path, HKEY* root) {
  if (!path || !root) return nullptr;
  const char* separator = strchr(path, '\\');
  if (!separator || separator == path) return nullptr;
  size_t length = static_cast<size_t>(separator - path);
  for (const RootName& candidate : kRoots) {
    if (strlen(candidate.name) == length && _strnicmp(candidate.name, path, length) == 0) {
      *root = candidate.key;
      return separator + 1;
    }
  }
  return nullptr;
}

bool RegCreateKeyPath(const char* path) {
  HKEY root;
  const char* subKey = ValidSubKey(path, &root);
  if (!subKey) return false;
  CRegKey key;
  return RegCreateKeyExA(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, key.Put(),
                         nullptr) == ERROR_SUCCESS;
}

bool RegSetStringValue(const char* path, const char* name, const char* text) {
  HKEY root;
  const char* subKey = ValidSubKey(path, &root);
  if (!subKey || !text) return false;
  CRegKey key;
  if (RegOpenKeyA(root, subKey, key.Put()) != ERROR_SUCCESS) return false;
  return RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(strlen(text) + 1)) == ERROR_SUCCESS;
}

bool RegGetStringValue(const char* path, const char* name, char* text, DWORD capacity) {
  HKEY root;
  const char* subKey = ValidSubKey(path, &root);
  if (!subKey || !text || capacity == 0) return false;
  // RRF_RT_REG_SZ: the value comes back terminated, and another type is refused.
  return RegGetValueA(root, subKey, name, RRF_RT_REG_SZ, nullptr, text, &capacity) == ERROR_SUCCESS;
}

bool RegDeleteSubKey(const char* path, const char* subKey, LONG* error) {
  LONG ignored;
  LONG& result = error ? *error : ignored;
  result = ERROR_INVALID_PARAMETER;
  HKEY root;
  const char* keyPath = ValidSubKey(path, &root);
  if (!keyPath || !subKey || !*subKey) return false;
  CRegKey key;
  result = RegOpenKeyA(root, keyPath, key.Put());
  if (result != ERROR_SUCCESS) return false;
  result = RegDeleteKeyA(key.Get(), subKey);
  return result == ERROR_SUCCESS;
}

bool RegKeyExists(const char* path) {
  HKEY root;
  const char* subKey = ValidSubKey(path, &root);
  CRegKey key;
  return subKey && RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS;
}
