// The built extractor's resources, read from the exe itself.
#include <windows.h>

#include <string>

#include "build_info.h"
#include "tests/test_support.h"

namespace {

const WORD kUkEnglish = 2057;
const WORD kUsEnglish = 1033;

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::wstring exe = ProgramFolder() + L"\\..\\TalvornSetup.exe";
    module = LoadLibraryExW(exe.c_str(), nullptr,
                            LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, module) << "build TalvornSetup.exe first";
  }
  void TearDown() override { FreeLibrary(module); }
  std::string Bytes(LPCWSTR type, LPCWSTR name, WORD language) {
    HRSRC found = FindResourceExW(module, type, name, language);
    if (found == nullptr) return std::string();
    const char* data = static_cast<const char*>(
        LockResource(LoadResource(module, found)));
    return std::string(data, SizeofResource(module, found));
  }
  HMODULE module = nullptr;
};

// Reads a classic dialog template field by field.
struct Reader {
  const std::string& bytes;
  size_t at = 0;
  WORD Word() {
    WORD value = static_cast<unsigned char>(bytes[at]) |
                 static_cast<unsigned char>(bytes[at + 1]) << 8;
    at += 2;
    return value;
  }
  DWORD Dword() {
    DWORD low = Word();
    return low | static_cast<DWORD>(Word()) << 16;
  }
  std::wstring Text() {
    std::wstring text;
    for (WORD c; (c = Word()) != 0;) text.push_back(c);
    return text;
  }
  void Align() { at = (at + 3) & ~size_t{3}; }
};

TEST_F(ResourcesTest, TheProgressDialogIsTheClassicTemplate) {
  std::string bytes = Bytes(MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(1000), kUkEnglish);
  ASSERT_FALSE(bytes.empty());
  Reader r{bytes};
  EXPECT_EQ(0x80C80AC0u, r.Dword());  // not the extended form (FFFF0001)
  EXPECT_EQ(0u, r.Dword());
  EXPECT_EQ(1, r.Word());  // one control
  EXPECT_EQ(0, r.Word());
  EXPECT_EQ(0, r.Word());
  EXPECT_EQ(268, r.Word());
  EXPECT_EQ(66, r.Word());
  EXPECT_EQ(0, r.Word());  // no menu
  EXPECT_EQ(0, r.Word());  // standard class
  EXPECT_EQ(L"Status", r.Text());
  EXPECT_EQ(8, r.Word());
  EXPECT_EQ(L"MS Sans Serif", r.Text());
  r.Align();
  EXPECT_EQ(0x50020000u, r.Dword());
  EXPECT_EQ(0u, r.Dword());
  EXPECT_EQ(7, r.Word());
  EXPECT_EQ(7, r.Word());
  EXPECT_EQ(254, r.Word());
  EXPECT_EQ(17, r.Word());
  EXPECT_EQ(1001, r.Word());
  EXPECT_EQ(0xFFFF, r.Word());
  EXPECT_EQ(0x0082, r.Word());  // STATIC
  EXPECT_EQ(L"Static", r.Text());
  EXPECT_EQ(0, r.Word());
}

// Administrator rights, and what today's Windows looks for: the systems it
// was made for (7 to 10 and 11, not Vista: the program imports
// K32GetMappedFileNameW, which kernel32 has from Windows 7 on; without them
// Windows applies its compatibility treatment of old installers), system
// DPI awareness (without it every box is stretched and blurred at 150%), and
// Common Controls 6 (themed buttons).
TEST_F(ResourcesTest, TheManifestAsksForAdministratorRightsAndTodaysWindows) {
  std::string manifest = Bytes(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), kUsEnglish);
  ASSERT_FALSE(manifest.empty());
  for (const char* part :
       {"name=\"Talvorn\" version=\"1.0.0.0\" processorArchitecture=\"" TALVORN_MANIFEST_ARCH "\"",
        "<description>Talvorn Installer</description>",
        "level=\"requireAdministrator\"",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "publicKeyToken=\"6595b64144ccf1df\""}) {
    EXPECT_NE(std::string::npos, manifest.find(part)) << part;
  }
  // Vista's, which the program cannot load on.
  EXPECT_EQ(std::string::npos, manifest.find("e2011457-1546-43c5-a5fe-008deee3d3f0"));
}

TEST_F(ResourcesTest, VersionBlockCarriesTheBuildDate) {
  std::string block = Bytes(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), kUkEnglish);
  ASSERT_FALSE(block.empty());
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
  EXPECT_EQ(MAKELONG(2, 3), fixed->dwFileVersionMS);
  EXPECT_EQ(MAKELONG(7, 0), fixed->dwFileVersionLS);
  EXPECT_EQ(MAKELONG(2, 3), fixed->dwProductVersionMS);
  EXPECT_EQ(MAKELONG(7, 0), fixed->dwProductVersionLS);
  wchar_t* built = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\080904B0\\Built",
                             reinterpret_cast<void**>(&built), &size));
  EXPECT_EQ(Widen(kBuildDate), built);
  EXPECT_EQ(11u, strlen(kBuildDate));  // "Mar  6 2023"
}

// The icon's 16x16 image is held PNG-compressed, which Windows reads from
// Vista on (https://devblogs.microsoft.com/oldnewthing/20231025-00/?p=108925):
// it loads at both sizes.
TEST_F(ResourcesTest, IconAndPayloadAreInUkEnglish) {
  EXPECT_FALSE(Bytes(MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(1), kUkEnglish).empty());
  for (int size : {16, 32}) {
    HICON icon = static_cast<HICON>(
        LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
    ASSERT_NE(nullptr, icon) << size;
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(size, bitmap.bmWidth);
    EXPECT_EQ(size, bitmap.bmHeight);
    if (size == 16) {
      // Its own image, with the soft edges only its alpha channel has, not
      // the 16-colour 32x32 one scaled down.
      BITMAPINFO format = {};
      format.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, -16, 1, 32, BI_RGB};
      DWORD pixels[256] = {};
      HDC screen = GetDC(nullptr);
      GetDIBits(screen, info.hbmColor, 0, 16, pixels, &format, DIB_RGB_COLORS);
      ReleaseDC(nullptr, screen);
      int soft = 0;
      for (DWORD pixel : pixels) soft += (pixel >> 24) != 0 && (pixel >> 24) != 255;
      EXPECT_GT(soft, 0);
    }
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
  std::string payload = Bytes(MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(100), kUkEnglish);
  ASSERT_GE(payload.size(), 4u);
}

}  // namespace
