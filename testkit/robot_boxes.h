#pragma once
// What the robot reads from a message box, and how it presses its buttons.

#include <windows.h>

#include <string>
#include <vector>

namespace robot {

struct BoxButton {
  int id;
  HWND window;
};

struct BoxContent {
  std::wstring caption;
  std::wstring text;
  std::vector<BoxButton> buttons;  // left to right, as a person sees them
  std::wstring icon;  // error, question, warning, information, none, unknown
};

// A dialog of the standard dialog class holding the message text control
// (id 0xFFFF); the extractor's "Status" dialog is never taken for one.
bool IsMessageBox(HWND window);

BoxContent ReadMessageBox(HWND box);

// "OK", "Cancel", "Yes"... for a button id, and back (case-insensitive);
// 0 for a name that is no button.
std::wstring ButtonName(int id);
int ButtonId(const std::wstring& name);

// Which of the system's four message box icons the box shows: "none" when
// it has no visible icon, "unknown" when the icon matches none of them (or
// has not been painted yet).
std::wstring DetectIcon(HWND box);

// The click's effect: the button's command sent to the box.
void PressButton(HWND box, const BoxButton& button);

std::wstring WindowClass(HWND window);
std::wstring WindowTitle(HWND window);

}  // namespace robot
