#include "app/window_level.h"

#include "support/seams.h"

bool WindowAtOurLevel(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  DWORD level = seams::processLevel(process);
  DWORD own = seams::processLevel(GetCurrentProcessId());
  return level != 0 && own != 0 && level >= own;
}
