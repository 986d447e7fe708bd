#include "ui/WindowPlacement.h"

namespace {

constexpr UINT kMoveFlags = SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
constexpr UINT kMoveAndSizeFlags = SWP_NOZORDER | SWP_NOACTIVATE;

RECT WorkArea() {
  RECT area = {};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

HWND ResolveReference(HWND window, HWND reference) {
  if (!reference) reference = GetParent(window);
  if (!reference) reference = GetWindow(window, GW_OWNER);
  if (!reference || !IsWindowVisible(reference)) reference = GetDesktopWindow();
  return reference;
}

RECT ReferenceRect(HWND reference) {
  if (reference == GetDesktopWindow()) return WorkArea();
  RECT rect = {};
  GetWindowRect(reference, &rect);
  return rect;
}

// Centred on the reference, then pulled into the work area; the right and bottom pulls come last.
POINT CenteredPosition(HWND window, HWND reference, int width, int height) {
  RECT ref = ReferenceRect(ResolveReference(window, reference));
  POINT at = {ref.left + (ref.right - ref.left - width) / 2, ref.top + (ref.bottom - ref.top - height) / 2};
  RECT work = WorkArea();
  if (at.x < work.left) at.x = work.left;
  if (at.x + width > work.right) at.x = work.right - width;
  if (at.y < work.top) at.y = work.top;
  if (at.y + height > work.bottom) at.y = work.bottom - height;
  return at;
}

}  // namespace

void CenterOther(HWND window, HWND reference) {
  RECT own = {};
  GetWindowRect(window, &own);
  POINT at = CenteredPosition(window, reference, own.right - own.left, own.bottom - own.top);
  SetWindowPos(window, nullptr, at.x, at.y, 0, 0, kMoveFlags);
}

BOOL CenterOtherSized(HWND window, HWND reference, int width, int height) {
  POINT at = CenteredPosition(window, reference, width, height);
  return SetWindowPos(window, nullptr, at.x, at.y, width, height, kMoveAndSizeFlags);
}
