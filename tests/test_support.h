// What the unit tests share: the message-box recorder and the fake clock (the
// two seams), scratch folders, file helpers, and a fixture that puts the
// extractor's process-wide state back to that of a fresh process.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/held_folder.h"

struct RecordedBox {
  std::wstring caption;
  std::wstring text;
  UINT flags;
};

// Replaces both message-box calls while alive: records every box in order and
// answers with the queued results (IDOK when none is queued).
class BoxRecorder {
 public:
  BoxRecorder();
  ~BoxRecorder();
  void QueueAnswer(int result) { answers_.push_back(result); }
  // Called while a box is "open", as a nested message loop would run.
  std::function<void(const RecordedBox&)> onShow;
  std::vector<RecordedBox> boxes;
  std::vector<std::wstring> Texts() const;

 private:
  static int WINAPI BoxW(HWND, LPCWSTR, LPCWSTR, UINT);
  static int WINAPI BoxA(HWND, LPCSTR, LPCSTR, UINT);
  int Show(std::wstring caption, std::wstring text, UINT flags);
  std::vector<int> answers_;
};

// Replaces the tick count and sleep while alive: time moves only by sleeps.
class FakeClock {
 public:
  explicit FakeClock(DWORD start = 0);
  ~FakeClock();
  DWORD now;
  std::vector<DWORD> sleeps;
  std::function<void(DWORD now)> onSleep;

 private:
  static DWORD WINAPI Tick();
  static void WINAPI Sleep(DWORD ms);
};

// A fresh folder under the system temp folder, removed with its contents.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const {
    return path_ + L"\\" + name;
  }

 private:
  std::wstring path_;
};

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
bool PathExists(const std::wstring& path);
// The existing folder at path held as the run holds tmp-n: as itself, without
// delete sharing (released with ReleaseHeldFolder, or by the code under test).
HeldFolder HeldAt(const std::wstring& path);
// The folder that holds the running test program.
std::wstring ProgramFolder();
// The log's lines (UTF-16LE after the byte-order mark), split at "\r\n".
std::vector<std::wstring> ReadLogLines(const std::wstring& path);
void RemoveTree(const std::wstring& path);  // a link itself, never through it
// CreateProcessW of command (no handles inherited), tried up to three times:
// once in a long while (seen once in CI) Wine refuses to start a process, and
// a second try tells that apart from a real fault, which fails every time.
// Each refusal is printed with its error.
bool StartProcess(std::wstring command, const wchar_t* directory,
                  PROCESS_INFORMATION* process);
// The host's name of a Windows path, or empty.
std::wstring UnixName(const std::wstring& path);
// Wine starts a host program named by its Unix path, but its handle does not
// follow that program: the command is done once `done` says so (within 10 s).
bool RunHostCommand(const std::wstring& command, const std::function<bool()>& done);
// A Unix symbolic link at link to target (Windows paths), made by the host's
// ln: Wine can make none through Win32. Win32 then sees a link to a folder
// as a reparse point, and one to a file as that file.
bool MakeUnixLink(const std::wstring& link, const std::wstring& target);
void RemoveUnixLink(const std::wstring& link);
// Removes what is at link (a folder with what is in it, whoever holds it: the
// host does not ask Wine) and makes it a Unix link to target.
bool ReplaceWithUnixLink(const std::wstring& link, const std::wstring& target);
// Wine starts its desktop process (the signed-in user's shell) for the first
// window on the desktop; a window of the test's own keeps it alive for the
// test program's life, so it is no program of a run under test.
void KeepWineDesktop();
// <program files>\Talvorn, and the install locations cleared:
// HKLM\Software\Talvorn, <program files>\Talvorn and C:\Talvorn.
std::wstring ProgramFilesInstall();
void ClearInstallLocations();
// A standard user's token made from token (Administrators for deny only),
// or nullptr; closed by the caller.
HANDLE StandardUserToken(HANDLE token);
// This thread acts with a standard user's token from here on (this process's,
// made so), until RevertToSelf.
bool ActAsStandardUser();

// Resets the extractor's process-wide state before and after each test.
class ExtractorTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  ScratchFolder scratch;
  BoxRecorder boxes;
};
