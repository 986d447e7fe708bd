// The shell folders the launcher places files in.
#pragma once

#include "base/Path.h"

enum class ESpecialFolder { Desktop, Programs, Startup, Documents, AppData, QuickLaunch };

// False, with an empty path, when the shell cannot resolve the folder.
bool GetSpecialFolder(ESpecialFolder folder, CPath& out);
