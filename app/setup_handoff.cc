#include "app/setup_handoff.h"

#include <cstring>

#include "app/window_level.h"
#include "completion/basic_install.h"
#include "completion/complete_install.h"
#include "completion/delete_tree.h"
#include "completion/install_folder.h"
#include "payload/extract.h"
#include "security/elevation.h"
#include "support/base64.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/process_start.h"
#include "support/seams.h"
#include "support/text.h"

int installingSeen = 0;

namespace {

BOOL CALLBACK CheckWindowTitle(HWND window, LPARAM foundAddress) {
  SetupTitle kind = SetupTitleOf(window);
  if (kind == SetupTitle::kNone) return TRUE;
  *reinterpret_cast<int*>(foundAddress) = 1;
  if (kind == SetupTitle::kInstalling) installingSeen = 1;
  return FALSE;
}

// The folder's path for the argument string; a folder the shell cannot name
// is passed as an empty path, so the setup program still gets three fields.
void AppendFolderArgument(wchar_t* arguments, bool found, wchar_t* folder) {
  if (!found || !AppendBackslash(folder, kFolderPathSize)) folder[0] = 0;
  AppendEncodedArgument(arguments, folder);
}

}  // namespace

SetupTitle SetupTitleOf(HWND window) {
  char title[300];
  if (GetWindowTextA(window, title, sizeof title) <= 0) return SetupTitle::kNone;
  SetupTitle kind = SetupTitle::kNone;
  if (std::strcmp(title, "Talvorn Installer") == 0) kind = SetupTitle::kRunning;
  if (std::strcmp(title, "Talvorn Installer: Installing") == 0) {
    kind = SetupTitle::kInstalling;
  }
  // The level is read only for the few windows whose title matches.
  if (kind != SetupTitle::kNone && !WindowAtOurLevel(window)) {
    return SetupTitle::kNone;
  }
  return kind;
}

int FindSetupWindow() {
  int found = 0;
  EnumWindows(CheckWindowTitle, reinterpret_cast<LPARAM>(&found));
  return found;
}

void WaitForSetupWindow() {
  // Unsigned difference: the tick counter's wrap does no harm.
  DWORD start = seams::tickCount();
  while (seams::tickCount() - start < kAppearanceWaitMs && !FindSetupWindow()) {
    seams::sleep(kAppearancePollMs);
  }
  while (FindSetupWindow()) seams::sleep(kDisappearancePollMs);
}

void AppendEncodedArgument(wchar_t* arguments, const wchar_t* path) {
  char encoded[2000];
  Base64Encode(reinterpret_cast<const uint8_t*>(path),
               2 * static_cast<size_t>(lstrlenW(path)), encoded,
               sizeof encoded);
  wchar_t wide[2000];
  WidenCopy(wide, 2000, encoded);
  AppendText(arguments, kArgumentSize, arguments[0] ? L",\"" : L"\"");
  AppendText(arguments, kArgumentSize, wide);
  AppendText(arguments, kArgumentSize, L"\"");
}

int RunSetupProgram(HWND dialog, HeldFolder* tempDirectory) {
  wchar_t arguments[kArgumentSize] = {};
  wchar_t folder[kFolderPathSize] = {};
  AppendFolderArgument(arguments, GetDocumentsFolder(folder), folder);
  AppendFolderArgument(arguments, GetProgramsSubfolder(folder, L"Talvorn"),
                       folder);
  AppendFolderArgument(arguments, GetDesktopFolder(folder), folder);

  wchar_t setupPath[MAX_PATH];
  // The setup program is started by its own place, read from a handle on it
  // opened relative to tmp-n, never by a path joined from tmp-n's name. One
  // whose place cannot be read, or does not fit, is a launch failure of its
  // own: 206 is above 32 and must not read as a started program.
  int launchResult = ERROR_FILENAME_EXCED_RANGE;
  bool launched = false;
  HANDLE setup = INVALID_HANDLE_VALUE;
  DWORD missing = 0;
  if (JoinPath(setupPath, MAX_PATH, tempDirectory->path, L"InstallTalvorn.exe")) {
    missing = OpenInFolder(tempDirectory, L"InstallTalvorn.exe", FILE_READ_ATTRIBUTES,
                           kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE, nullptr,
                           &setup);
    if (missing != 0) launchResult = static_cast<int>(missing);
  }
  bool named = setup != INVALID_HANDLE_VALUE && NameForLoader(setup, setupPath, MAX_PATH);
  if (setup != INVALID_HANDLE_VALUE) CloseHandle(setup);
  if (named) {
    // Elevated, it starts in System32, which only administrators can change:
    // a program it runs by a bare name is looked for in its current folder
    // before System32, and the extractor's is the user's (Downloads, say).
    // The setup program finds its files by its own path.
    wchar_t system[MAX_PATH];
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    const wchar_t* folder = RunIsElevated() && n > 0 && n < MAX_PATH ? system : nullptr;
    DWORD error = 0;
    launchResult = StartProgram(setupPath, arguments, folder, nullptr, &error);
    launched = launchResult > 32;
  }
  if (!launched) {
    wchar_t text[200];
    FormatText(text, 200, L"Error launching installer%s. Error=%d", L"",
               launchResult);
    seams::messageBoxW(nullptr, text, L"Extractor", MB_OK);
  }
  EndDialog(dialog, 0);

  bool fallback = true;
  if (launched) {
    WaitForSetupWindow();
    fallback = !FileExistsIn(*tempDirectory, L"cancel.txt");
    if (installingSeen) fallback = CompleteInstall(*tempDirectory) == 0;
  }
  if (fallback && BasicInstall(*tempDirectory) == 1) {
    CompleteInstall(*tempDirectory);
  }
  ReleaseInstallFolder();
  // Held from its creation until now, so that nothing outside the run could
  // move it or put anything else in its place, and held on while it is
  // emptied; the removal holds each folder inside again while it empties it.
  return DeleteHeldDirectoryTree(tempDirectory, &TempDirectoryBase());
}

void ResetHandoffForTesting() { installingSeen = 0; }
