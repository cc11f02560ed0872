#pragma once
// Pictures of windows: the robot's screenshots and the pixels it reads a
// message box's icon from.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace robot {

// The screen's pixels over the rectangle, 0x00RRGGBB, top row first, read
// through GDI.
bool GrabScreen(const RECT& rect, std::vector<uint32_t>* pixels);

// The pixels of the icon drawn the way a static control draws it, over a
// background of the given colour.
void RenderIcon(HICON icon, uint32_t background, int width, int height,
                std::vector<uint32_t>* pixels);

// Saves the screen under the window's rectangle as a 24-bit BMP. Under Wine
// the picture is taken from the X server with ImageMagick's "import" (Wine's
// GDI screen reads leave out the text and buttons of message boxes); when
// that is not available, through GDI. *uniform is set when every pixel of the
// saved picture has the same colour (a black or blank shot).
bool SaveWindowShot(HWND window, const std::wstring& file, bool* uniform);

}  // namespace robot
