#include "tests/test_support.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>

#include "app/setup_handoff.h"
#include "completion/install_folder.h"
#include "compression/zlib_binding.h"
#include "payload/own_folder.h"
#include "support/errors.h"
#include "support/file_entry.h"
#include "support/file_util.h"
#include "support/log.h"
#include "support/seams.h"

namespace {
BoxRecorder* activeRecorder = nullptr;
FakeClock* activeClock = nullptr;
int scratchCounter = 0;
}  // namespace

BoxRecorder::BoxRecorder() {
  activeRecorder = this;
  seams::messageBoxW = BoxW;
  seams::messageBoxA = BoxA;
}

BoxRecorder::~BoxRecorder() {
  activeRecorder = nullptr;
  seams::messageBoxW = MessageBoxW;
  seams::messageBoxA = MessageBoxA;
}

std::vector<std::wstring> BoxRecorder::Texts() const {
  std::vector<std::wstring> texts;
  for (const RecordedBox& box : boxes) texts.push_back(box.text);
  return texts;
}

int BoxRecorder::Show(std::wstring caption, std::wstring text, UINT flags) {
  boxes.push_back({std::move(caption), std::move(text), flags});
  if (onShow) onShow(boxes.back());
  if (answers_.empty()) return IDOK;
  int answer = answers_.front();
  answers_.erase(answers_.begin());
  return answer;
}

int WINAPI BoxRecorder::BoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT flags) {
  return activeRecorder->Show(caption, text, flags);
}

int WINAPI BoxRecorder::BoxA(HWND, LPCSTR text, LPCSTR caption, UINT flags) {
  return activeRecorder->Show(Widen(caption), Widen(text), flags);
}

FakeClock::FakeClock(DWORD start) : now(start) {
  activeClock = this;
  seams::tickCount = Tick;
  seams::sleep = Sleep;
}

FakeClock::~FakeClock() {
  activeClock = nullptr;
  seams::tickCount = GetTickCount;
  seams::sleep = ::Sleep;
}

DWORD WINAPI FakeClock::Tick() { return activeClock->now; }

void WINAPI FakeClock::Sleep(DWORD ms) {
  activeClock->sleeps.push_back(ms);
  activeClock->now += ms;
  if (activeClock->onSleep) activeClock->onSleep(activeClock->now);
}

ScratchFolder::ScratchFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"talvorn-test-" +
          std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(++scratchCounter);
  RemoveTree(path_);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

// The tests' own clean-up, independent of the code under test: clears
// read-only marks and never follows links.
void KeepWineDesktop() {
  static HWND keeper = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1,
                                       nullptr, nullptr, nullptr, nullptr);
  (void)keeper;
}

std::wstring ProgramFilesInstall() {
  wchar_t folder[kFolderPathSize];
  GetProgramFilesFolder(folder);
  return std::wstring(folder) + L"Talvorn";
}

void ClearInstallLocations() {
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\Talvorn");
  RemoveTree(L"C:\\Talvorn");
  RemoveTree(ProgramFilesInstall());
}

void RemoveTree(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
  // Wine removes no link to a folder through Win32, and an empty folder it
  // points at instead.
  if (folder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    RemoveUnixLink(path);
    return;
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (folder && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }
  if (!folder || !RemoveDirectoryW(path.c_str())) DeleteFileW(path.c_str());
}

std::wstring UnixName(const std::wstring& path) {
  using UnixNameFn = char*(CDECL*)(const wchar_t*);
  auto unixName = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unixName != nullptr ? unixName(path.c_str()) : nullptr;
  if (name == nullptr) return L"";
  std::wstring wide = Widen(name);
  HeapFree(GetProcessHeap(), 0, name);
  return wide;
}

bool StartProcess(std::wstring command, const wchar_t* directory,
                  PROCESS_INFORMATION* process) {
  STARTUPINFOW startup = {sizeof startup};
  for (int attempt = 1; attempt <= 3; ++attempt) {
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                       directory, &startup, process)) {
      return true;
    }
    std::fprintf(stderr, "starting a process failed (try %d of 3): error %lu\n",
                 attempt, GetLastError());
    if (attempt < 3) Sleep(500);
  }
  return false;
}

bool RunHostCommand(const std::wstring& command, const std::function<bool()>& done) {
  PROCESS_INFORMATION process = {};
  if (!StartProcess(command, nullptr, &process)) return false;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  for (int i = 0; i < 1000; ++i, Sleep(10)) {
    if (done()) return true;
  }
  return false;
}

bool MakeUnixLink(const std::wstring& link, const std::wstring& target) {
  std::wstring from = UnixName(target), at = UnixName(link);
  // Made when the name leads to the target (or exists, for a target that
  // does not).
  auto made = [&] {
    if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
      return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    HANDLE a = CreateFileW(link.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    HANDLE b = CreateFileW(target.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION x = {}, y = {};
    bool same = GetFileInformationByHandle(a, &x) &&
                GetFileInformationByHandle(b, &y) && SameEntry(x, y);
    if (a != INVALID_HANDLE_VALUE) CloseHandle(a);
    if (b != INVALID_HANDLE_VALUE) CloseHandle(b);
    return same;
  };
  return !from.empty() && !at.empty() &&
         RunHostCommand(L"/bin/ln -sfnT \"" + from + L"\" \"" + at + L"\"", made);
}

bool ReplaceWithUnixLink(const std::wstring& link, const std::wstring& target) {
  std::wstring at = UnixName(link);
  return !at.empty() &&
         RunHostCommand(L"/bin/rm -rf \"" + at + L"\"", [&] {
           return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES;
         }) &&
         MakeUnixLink(link, target);
}

HANDLE StandardUserToken(HANDLE token) {
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof admins;
  CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
  SID_AND_ATTRIBUTES denyOnly = {admins, 0};
  HANDLE restricted = nullptr;
  CreateRestrictedToken(token, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted);
  return restricted;
}

bool ActAsStandardUser() {
  HANDLE process = nullptr, restricted = nullptr, impersonation = nullptr;
  bool acting =
      OpenProcessToken(GetCurrentProcess(),
                       TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, &process) &&
      (restricted = StandardUserToken(process)) != nullptr &&
      DuplicateToken(restricted, SecurityImpersonation, &impersonation) &&
      SetThreadToken(nullptr, impersonation);
  for (HANDLE h : {process, restricted, impersonation}) {
    if (h != nullptr) CloseHandle(h);
  }
  return acting;
}

void RemoveUnixLink(const std::wstring& link) {
  std::wstring at = UnixName(link);
  if (at.empty()) return;
  RunHostCommand(L"/bin/rm -f \"" + at + L"\"", [&] {
    return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES;
  });
}

std::wstring Widen(const std::string& text) {
  std::wstring wide;
  for (unsigned char c : text) wide.push_back(c);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow.push_back(static_cast<char>(c));
  return narrow;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

HeldFolder HeldAt(const std::wstring& path) {
  HeldFolder folder;
  HoldExistingFolder(nullptr, path.c_str(),
                     FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &folder);
  return folder;
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.rfind(L'\\'));
}

std::vector<std::wstring> ReadLogLines(const std::wstring& path) {
  std::string bytes = ReadBytes(path);
  std::wstring text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<wchar_t>(
        static_cast<unsigned char>(bytes[i]) |
        static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos;
       start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

namespace {
void ResetExtractorState() {
  ResetLogForTesting();
  ResetErrorsForTesting();
  ResetZlibForTesting();
  ResetHandoffForTesting();
  ReleaseInstallFolder();
  ReleaseOwnFolder();
  // The file system's answers, which a test may have put words into; a test
  // stopped early by an assertion leaves them for the next one otherwise.
  seams::entrySecurity = ReadEntrySecurity;
  seams::volumeProtects = VolumeIsLocalWithAcls;
  seams::finalPath = GetFinalPathNameByHandleW;
  seams::attributeTag = ReadAttributeTag;
}
}  // namespace

void ExtractorTest::SetUp() { ResetExtractorState(); }

void ExtractorTest::TearDown() { ResetExtractorState(); }
