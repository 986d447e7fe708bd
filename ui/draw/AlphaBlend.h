// The system's blend, gradient and colour-keyed copy functions (msimg32, no KnownDLL: taken from
// the system directory only), found once per process, and the software blend
// that stands in for AlphaBlend where the system has none.
#pragma once

#include <windows.h>

using AlphaBlendFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
using GradientFillFunction = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);
using TransparentBltFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, UINT);

// msimg32's AlphaBlend, or SoftwareAlphaBlend when it cannot be found.
AlphaBlendFunction BlendFunction();
// msimg32's GradientFill; null when it cannot be found.
GradientFillFunction GradientFunction();
// msimg32's TransparentBlt; null when it cannot be found.
TransparentBltFunction TransparentFunction();

// AlphaBlend's contract in plain code: the source is premultiplied when the blend has
// AC_SRC_ALPHA, so its colours are scaled by the constant alpha only, and the destination keeps
// (1 - source alpha × constant alpha) of its own. False, nothing drawn, when memory runs out.
BOOL WINAPI SoftwareAlphaBlend(HDC target, int x, int y, int cx, int cy, HDC source, int sourceX, int sourceY,
                               int sourceCx, int sourceCy, BLENDFUNCTION blend);

// The blend record of every skin draw: source over, per-pixel alpha, `fade` as constant alpha.
BLENDFUNCTION SkinBlend(BYTE fade);
