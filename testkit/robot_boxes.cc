#include "robot_boxes.h"

#include <algorithm>
#include <cstdint>
#include <cwctype>

#include "robot_shots.h"

namespace robot {
namespace {

const int kTextId = 0xFFFF;

const struct {
  int id;
  const wchar_t* name;
} kButtons[] = {{IDOK, L"OK"},         {IDCANCEL, L"Cancel"},
                {IDABORT, L"Abort"},   {IDRETRY, L"Retry"},
                {IDIGNORE, L"Ignore"}, {IDYES, L"Yes"},
                {IDNO, L"No"},         {IDCLOSE, L"Close"},
                {IDHELP, L"Help"},     {IDTRYAGAIN, L"TryAgain"},
                {IDCONTINUE, L"Continue"}};

BOOL CALLBACK FindIconStatic(HWND child, LPARAM found) {
  if (WindowClass(child) == L"Static" &&
      (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }
  return TRUE;
}

// Mean difference per colour channel, 0 to 255.
double Difference(const std::vector<uint32_t>& a,
                  const std::vector<uint32_t>& b) {
  uint64_t sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      sum += abs((int)(a[i] >> shift & 255) - (int)(b[i] >> shift & 255));
    }
  }
  return a.empty() ? 255.0 : (double)sum / (3.0 * a.size());
}

}  // namespace

std::wstring WindowClass(HWND window) {
  wchar_t name[256];
  int size = GetClassNameW(window, name, 256);
  return std::wstring(name, size > 0 ? size : 0);
}

std::wstring WindowTitle(HWND window) {
  wchar_t title[1024];
  int size = GetWindowTextW(window, title, 1024);
  return std::wstring(title, size > 0 ? size : 0);
}

bool IsMessageBox(HWND window) {
  return WindowClass(window) == L"#32770" && WindowTitle(window) != L"Status" &&
         GetDlgItem(window, kTextId) != nullptr;
}

BoxContent ReadMessageBox(HWND box) {
  BoxContent content;
  content.caption = WindowTitle(box);
  wchar_t text[4096];
  UINT size = GetDlgItemTextW(box, kTextId, text, 4096);
  content.text.assign(text, size);
  for (const auto& known : kButtons) {
    HWND button = GetDlgItem(box, known.id);
    if (button && IsWindowVisible(button))
      content.buttons.push_back({known.id, button});
  }
  std::sort(content.buttons.begin(), content.buttons.end(),
            [](const BoxButton& a, const BoxButton& b) {
              RECT ra, rb;
              GetWindowRect(a.window, &ra);
              GetWindowRect(b.window, &rb);
              return ra.left < rb.left;
            });
  content.icon = DetectIcon(box);
  return content;
}

std::wstring ButtonName(int id) {
  for (const auto& known : kButtons) {
    if (known.id == id) return known.name;
  }
  return std::to_wstring(id);
}

int ButtonId(const std::wstring& name) {
  for (const auto& known : kButtons) {
    std::wstring a = name, b = known.name;
    for (wchar_t& c : a) c = towlower(c);
    for (wchar_t& c : b) c = towlower(c);
    if (a == b) return known.id;
  }
  return 0;
}

std::wstring DetectIcon(HWND box) {
  // The icon handle a box holds belongs to its own process (under Wine every
  // process loads its own copy of the system icons), so the comparison is
  // made on the pixels drawn on the screen.
  HWND iconStatic = nullptr;
  EnumChildWindows(box, FindIconStatic, reinterpret_cast<LPARAM>(&iconStatic));
  if (!iconStatic || !IsWindowVisible(iconStatic) ||
      !SendMessageW(iconStatic, STM_GETICON, 0, 0))
    return L"none";
  RECT rect;
  GetWindowRect(iconStatic, &rect);
  std::vector<uint32_t> shown;
  if (!GrabScreen(rect, &shown)) return L"unknown";
  const struct {
    int id;
    const wchar_t* name;
  } kIcons[] = {{32513, L"error"},  // IDI_ERROR, IDI_QUESTION, ...
                {32514, L"question"},
                {32515, L"warning"},
                {32516, L"information"}};
  double best = 255.0, second = 255.0;
  std::wstring bestName = L"unknown";
  for (const auto& icon : kIcons) {
    std::vector<uint32_t> drawn;
    RenderIcon(LoadIconW(nullptr, MAKEINTRESOURCEW(icon.id)), shown[0], rect.right - rect.left,
               rect.bottom - rect.top, &drawn);
    double difference = Difference(shown, drawn);
    if (difference < best) {
      second = best;
      best = difference;
      bestName = icon.name;
    } else if (difference < second) {
      second = difference;
    }
  }
  // A close match that stands clearly apart from the next one.
  return best < 6.0 && best * 2 < second ? bestName : L"unknown";
}

void PressButton(HWND box, const BoxButton& button) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(button.id, BN_CLICKED),
               reinterpret_cast<LPARAM>(button.window));
}

}  // namespace robot
