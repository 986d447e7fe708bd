#include "ui/MessageBox.h"

int ShowDesktopMessage(const char* text, const char* caption, UINT type) {
  return MessageBoxA(GetDesktopWindow(), text, caption, type);
}
