#include "robot_shots.h"

#include "record.h"

namespace robot {
namespace {

typedef char*(CDECL* UnixNameFunction)(const wchar_t*);

// Whether the X route failed once; it is not tried again then.
bool xGrabBroken;

HBITMAP MakeDib(HDC dc, int width, int height, void** bits) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  return CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

bool WriteBmp(const std::wstring& file, const std::vector<uint32_t>& pixels,
              int width, int height) {
  int rowSize = (width * 3 + 3) & ~3;
  std::string data(54 + rowSize * height, '\0');
  BITMAPFILEHEADER* header = reinterpret_cast<BITMAPFILEHEADER*>(&data[0]);
  BITMAPINFOHEADER* info = reinterpret_cast<BITMAPINFOHEADER*>(&data[14]);
  header->bfType = 0x4D42;
  header->bfSize = (DWORD)data.size();
  header->bfOffBits = 54;
  info->biSize = sizeof *info;
  info->biWidth = width;
  info->biHeight = height;  // bottom row first
  info->biPlanes = 1;
  info->biBitCount = 24;
  for (int y = 0; y < height; ++y) {
    char* row = &data[54 + rowSize * (height - 1 - y)];
    for (int x = 0; x < width; ++x) {
      uint32_t pixel = pixels[y * width + x];
      row[3 * x] = (char)(pixel & 255);
      row[3 * x + 1] = (char)(pixel >> 8 & 255);
      row[3 * x + 2] = (char)(pixel >> 16 & 255);
    }
  }
  DeleteFileW(file.c_str());
  return kit::AppendToFile(file, data);
}

// Reads back a 24-bit BMP and tells whether all its pixels are alike.
bool IsUniformBmp(const std::wstring& file) {
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return true;
  std::string data(GetFileSize(handle, nullptr), '\0');
  DWORD read = 0;
  ReadFile(handle, &data[0], (DWORD)data.size(), &read, nullptr);
  CloseHandle(handle);
  if (read < 54) return true;
  const BITMAPFILEHEADER* header =
      reinterpret_cast<const BITMAPFILEHEADER*>(data.data());
  const BITMAPINFOHEADER* info =
      reinterpret_cast<const BITMAPINFOHEADER*>(data.data() + 14);
  if (info->biBitCount != 24) return false;
  int width = info->biWidth, height = abs(info->biHeight);
  int rowSize = (width * 3 + 3) & ~3;
  if (header->bfOffBits + (size_t)rowSize * height > data.size()) return true;
  const char* first = data.data() + header->bfOffBits;
  for (int y = 0; y < height; ++y) {
    const char* row = first + rowSize * y;
    for (int x = 0; x < width * 3; ++x) {
      if (row[x] != first[x % 3]) return false;
    }
  }
  return true;
}

bool SaveThroughGdi(const RECT& rect, const std::wstring& file) {
  std::vector<uint32_t> pixels;
  if (!GrabScreen(rect, &pixels)) return false;
  return WriteBmp(file, pixels, rect.right - rect.left,
                  rect.bottom - rect.top);
}

// Runs ImageMagick's import through the host's shell and waits for the
// picture; the shell's process cannot be waited for from here, so the file
// is written under a temporary name and renamed when complete.
bool SaveThroughX(const RECT& rect, const std::wstring& file) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  UnixNameFunction unixName = reinterpret_cast<UnixNameFunction>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                     "wine_get_unix_file_name"));
  if (xGrabBroken || !GetProcAddress(ntdll, "wine_get_version") || !unixName)
    return false;
  std::wstring partial = file + L".part";
  DeleteFileW(file.c_str());
  char* finalPath = unixName(file.c_str());
  char* partialPath = unixName(partial.c_str());
  if (!finalPath || !partialPath) return false;
  char geometry[64];
  wsprintfA(geometry, "%dx%d+%d+%d", (int)(rect.right - rect.left),
            (int)(rect.bottom - rect.top), (int)rect.left, (int)rect.top);
  std::string script = std::string("import -window root -crop ") + geometry +
                       " 'BMP3:" + partialPath + "' && mv '" + partialPath +
                       "' '" + finalPath + "'";
  HeapFree(GetProcessHeap(), 0, finalPath);
  HeapFree(GetProcessHeap(), 0, partialPath);
  std::wstring commandLine =
      L"Z:\\bin\\sh -c \"" + kit::FromUtf8(script) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  DWORD start = GetTickCount();
  while (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > 5000) {
      DeleteFileW(partial.c_str());
      return false;
    }
    Sleep(10);
  }
  return true;
}

}  // namespace

namespace {

// Runs draw into a 32-bit DIB of the given size, then hands back its pixels
// without the alpha byte.
template <typename Draw>
bool DrawToPixels(int width, int height, std::vector<uint32_t>* pixels, Draw draw) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = MakeDib(screen, width, height, &bits);
  HGDIOBJ old = SelectObject(memory, bitmap);
  uint32_t* first = static_cast<uint32_t*>(bits);
  bool ok = draw(screen, memory, first);
  GdiFlush();
  if (ok) {
    pixels->assign(first, first + width * height);
    for (uint32_t& pixel : *pixels) pixel &= 0xFFFFFF;
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace

bool GrabScreen(const RECT& rect, std::vector<uint32_t>* pixels) {
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  return DrawToPixels(width, height, pixels, [&](HDC screen, HDC memory, uint32_t*) {
    return BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top,
                  SRCCOPY | CAPTUREBLT) != FALSE;
  });
}

void RenderIcon(HICON icon, uint32_t background, int width, int height,
                std::vector<uint32_t>* pixels) {
  DrawToPixels(width, height, pixels, [&](HDC, HDC memory, uint32_t* first) {
    for (int i = 0; i < width * height; ++i) first[i] = background;
    DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    return true;
  });
}

bool SaveWindowShot(HWND window, const std::wstring& file, bool* uniform) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return false;
  if (rect.left < 0) rect.left = 0;
  if (rect.top < 0) rect.top = 0;
  bool ok = SaveThroughX(rect, file);
  if (!ok) {
    xGrabBroken = xGrabBroken || GetProcAddress(GetModuleHandleW(L"ntdll.dll"),
                                                "wine_get_version");
    ok = SaveThroughGdi(rect, file);
  }
  *uniform = !ok || IsUniformBmp(file);
  return ok;
}

}  // namespace robot
