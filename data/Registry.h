// Registry access by full textual key paths ("HKEY_LOCAL_MACHINE\SOFTWARE\...").
#pragma once

#include <windows.h>

#include "base/ScopedHandle.h"

// The predefined key of the path's root (name compared ignoring case) and the sub-key path after
// the first backslash; null for a path without one, starting with one, or with another root.
const char* SplitRegistryPath(const char* path, HKEY* root);

bool RegCreateKeyPath(const char* path);                                       // with missing intermediate keys
bool RegSetStringValue(const char* path, const char* name, const char* text);  // the key must exist
// A REG_SZ value of at most `capacity` - 1 characters; false when missing, of another type or longer.
bool RegGetStringValue(const char* path, const char* name, char* text, DWORD capacity);
// `error`, when given, receives the system's code (ERROR_ACCESS_DENIED without the rights).
bool RegDeleteSubKey(const char* path, const char* subKey, LONG* error = nullptr);
bool RegKeyExists(const char* path);
