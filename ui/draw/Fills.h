// Gradient and translucent fills. COLORREF (0x00BBGGRR) for opaque gradients; 0xAARRGGBB where
// alpha matters.
#pragma once

#include <windows.h>

#include <cstdint>

// A two-colour gradient, top to bottom or left to right; FALSE when the system has no GradientFill.
BOOL FillColorGradient(HDC dc, const RECT& rect, COLORREF first, COLORREF second, bool vertical);
// Vertical gradient from the top colour to the bottom colour.
BOOL FillGradient(HDC dc, const RECT& rect, COLORREF top, COLORREF bottom);
// Edge colour at top and bottom, middle colour in the middle.
void FillGradientMirror(HDC dc, const RECT& rect, COLORREF edge, COLORREF middle);
// A gradient whose alpha is the mean of the two colours' alphas; drawn as solid bands (more of
// them for more `steps`) when the system has no GradientFill.
void FillAlphaGradient(HDC dc, const RECT& rect, uint32_t from, uint32_t to, bool vertical, int steps);
// The bands alone: band 0 (at the bottom, or at the right) has the `to` colour.
void FillGradientBands(HDC dc, const RECT& rect, uint32_t from, uint32_t to, bool vertical, int steps);
// A solid colour: nothing at alpha 0, opaque at 0xFF, blended in between.
void FillAlphaColor(HDC dc, const RECT& rect, uint32_t color);
