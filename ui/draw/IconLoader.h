// Icons made from the bytes of an icon file (.ico).
#pragma once

#include <windows.h>

#include "base/ByteBuffer.h"

// The image of the file's directory that best fits `width` × `height`, made into an icon of that
// size; null when the bytes are not a well-formed icon file.
HICON IconFromFileBytes(const CByteBuffer& bytes, int width, int height);

// The icon of that size as the system's file loader makes it (the bytes go through a temporary
// file, deleted afterwards); null on any failure. Not shared: the caller destroys it.
HICON LoadIconThroughFile(const CByteBuffer& bytes, int width, int height);
