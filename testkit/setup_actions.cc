#include "setup_actions.h"

#include <windows.h>
#include <shlobj.h>


namespace setup {
namespace {

const wchar_t* const kStepNames[] = {
    L"create", L"show", L"hide", L"installing", L"plain", L"title", L"second",
    L"raise", L"close", L"copy", L"move", L"registry", L"handoff", L"cancel", L"hold",
    L"release", L"wait", L"ask", L"exit", L"crash"};

const wchar_t* const kProductFiles[] = {
    L"Talvorn Server.exe", L"Launcher.exe", L"Uninstall.exe", L"libeay32.dll",
    L"libssl32.dll", L"Licence.txt"};

std::vector<HANDLE> heldFiles;

bool IsStepName(const std::wstring& name) {
  for (const wchar_t* known : kStepNames) {
    if (name == known) return true;
  }
  return false;
}

// The parameters after the program's own name, as the platform splits it.
std::wstring CommandParameters() {
  const wchar_t* p = GetCommandLineW();
  if (*p == L'"') {
    for (++p; *p && *p != L'"'; ++p) {
    }
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

// Exactly "A","B","C": nothing before, between or after but the commas.
bool SplitFields(const std::wstring& text, std::vector<std::wstring>* fields) {
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    if (i > 0 && (at >= text.size() || text[at++] != L',')) return false;
    if (at >= text.size() || text[at++] != L'"') return false;
    size_t close = text.find(L'"', at);
    if (close == std::wstring::npos) return false;
    fields->push_back(text.substr(at, close - at));
    at = close + 1;
  }
  return at == text.size();
}

std::wstring ProgramFilesFolder() {
  wchar_t path[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path)))
    return L"C:\\Program Files";
  return path;
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

// Every level of the path that does not exist yet.
bool MakeFolders(const std::wstring& path) {
  for (size_t at = path.find(L'\\', 3); ; at = path.find(L'\\', at + 1)) {
    std::wstring part = path.substr(0, at);
    if (!CreateDirectoryW(part.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
    if (at == std::wstring::npos) return true;
  }
}

// Copies the folder's tree below destination; counts the files copied.
bool CopyTree(const std::wstring& source, const std::wstring& destination,
              int* copied) {
  if (!MakeFolders(destination)) return false;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Join(source, L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  bool ok = true;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = CopyTree(Join(source, name), Join(destination, name), copied) && ok;
    } else if (CopyFileW(Join(source, name).c_str(),
                         Join(destination, name).c_str(), FALSE)) {
      ++*copied;
    } else {
      ok = false;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return ok;
}

}  // namespace

bool ParseScript(const std::wstring& text, std::vector<Step>* steps,
                 std::wstring* error) {
  size_t at = 0;
  while (at <= text.size()) {
    size_t comma = text.find(L',', at);
    if (comma == std::wstring::npos) comma = text.size();
    std::wstring item = text.substr(at, comma - at);
    at = comma + 1;
    if (item.empty()) continue;
    Step step;
    size_t equals = item.find(L'=');
    step.name = item.substr(0, equals);
    if (equals != std::wstring::npos) step.arg = item.substr(equals + 1);
    if (step.name == L"install") {
      // What a click on Install does.
      for (const wchar_t* name : {L"installing", L"copy", L"registry",
                                  L"handoff", L"wait"}) {
        steps->push_back({name, std::wstring(name) == L"wait" ? L"400" : L""});
      }
      continue;
    }
    if (!IsStepName(step.name)) {
      *error = item;
      return false;
    }
    steps->push_back(step);
  }
  return true;
}

void RecordStart() {
  kit::Record record = kit::StartRecord();
  std::wstring parameters = CommandParameters();
  std::vector<std::wstring> fields;
  bool ok = SplitFields(parameters, &fields);
  for (size_t i = 0; i < fields.size(); ++i) {
    std::wstring path;
    if (!kit::DecodeUtf16Field(kit::ToUtf8(fields[i]), &path)) ok = false;
    record.Add(L"arg" + std::to_wstring(i + 1), path);
  }
  record.Add(L"params", parameters).Add(L"format", ok ? L"ok" : L"bad");
  record.Write();
}

std::wstring InstallFolder() {
  std::wstring folder = kit::GetEnv(L"TALVORN_SETUP_INSTALL_DIR");
  if (folder.empty()) folder = Join(ProgramFilesFolder(), L"Talvorn");
  while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
  return folder;
}

void CopyProduct(kit::Record& record) {
  std::wstring source = kit::ModuleFolder();
  std::wstring destination = InstallFolder();
  int copied = 0;
  std::wstring missing;
  bool ok = MakeFolders(destination);
  for (const wchar_t* name : kProductFiles) {
    std::wstring from = Join(source, name);
    if (GetFileAttributesW(from.c_str()) == INVALID_FILE_ATTRIBUTES) {
      missing += (missing.empty() ? L"" : L";") + std::wstring(name);
    } else if (CopyFileW(from.c_str(), Join(destination, name).c_str(), FALSE)) {
      ++copied;
    } else {
      ok = false;
    }
  }
  std::wstring tree = Join(source, L"Talvorn");
  DWORD treeAttributes = GetFileAttributesW(tree.c_str());
  if (treeAttributes != INVALID_FILE_ATTRIBUTES &&
      treeAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    ok = CopyTree(tree, Join(destination, L"Talvorn"), &copied) && ok;
  } else {
    missing += (missing.empty() ? L"" : L";") + std::wstring(L"Talvorn\\");
  }
  record.Add(L"dir", destination)
      .Add(L"copied", copied)
      .Add(L"missing", missing)
      .Add(L"ok", ok ? 1 : 0);
}

void WriteInstPath(kit::Record& record) {
  std::wstring value = kit::GetEnv(L"TALVORN_SETUP_INSTPATH");
  if (value.empty()) value = InstallFolder();
  HKEY key;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Talvorn", 0,
                                nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                nullptr);
  if (status == ERROR_SUCCESS) {
    status = RegSetValueExW(key, L"InstPath", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(value.c_str()),
                            (DWORD)(value.size() + 1) * sizeof(wchar_t));
    RegCloseKey(key);
  }
  record.Add(L"value", value)
      .Add(L"length", (long long)value.size())
      .Add(L"ok", status == ERROR_SUCCESS ? 1 : 0)
      .Add(L"error", status);
}

void WriteHandoff(const std::wstring& format, kit::Record& record) {
  std::wstring path = kit::GetEnv(L"TALVORN_SETUP_HANDOFF_PATH");
  if (path.empty()) path = Join(InstallFolder(), L"Talvorn Server.exe");
  std::wstring kind = format.empty() ? L"plain" : format;
  std::string bytes;
  if (kind == L"ansi") {
    bytes = kit::ToUtf8(path);
  } else if (kind != L"empty") {
    std::wstring text = path;
    if (kind == L"crlf" || kind == L"bom+crlf") text += L"\r\n";
    if (kind == L"bom" || kind == L"bom+crlf") text.insert(0, 1, L'\xFEFF');
    bytes.assign(reinterpret_cast<const char*>(text.data()),
                 text.size() * sizeof(wchar_t));
  }
  std::wstring file = Join(kit::ModuleFolder(), L"InstalledApp.txt");
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  bool ok = handle != INVALID_HANDLE_VALUE &&
            (bytes.empty() || WriteFile(handle, bytes.data(),
                                        (DWORD)bytes.size(), &written,
                                        nullptr));
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  record.Add(L"file", file)
      .Add(L"path", path)
      .Add(L"format", kind)
      .Add(L"ok", ok ? 1 : 0);
}

void CreateCancelMarker(kit::Record& record) {
  std::wstring file = Join(kit::ModuleFolder(), L"cancel.txt");
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  record.Add(L"file", file).Add(L"ok", handle != INVALID_HANDLE_VALUE ? 1 : 0);
}

void HoldFile(const std::wstring& name, kit::Record& record) {
  // No sharing at all: an open for reading by anyone else fails.
  std::wstring file = Join(kit::ModuleFolder(), name);
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (handle != INVALID_HANDLE_VALUE) heldFiles.push_back(handle);
  record.Add(L"file", file).Add(L"ok", handle != INVALID_HANDLE_VALUE ? 1 : 0);
}

void MoveIntoInstallFolder(const std::wstring& name, kit::Record& record) {
  // A rename, as on one volume: no copy is allowed to stand in for it.
  std::wstring from = Join(kit::ModuleFolder(), name);
  std::wstring to = Join(InstallFolder(), name);
  BOOL moved = MakeFolders(InstallFolder()) &&
               MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
  record.Add(L"from", from).Add(L"to", to).Add(L"ok", moved ? 1 : 0)
      .Add(L"error", moved ? 0LL : (long long)GetLastError());
}

void ReleaseFiles(kit::Record& record) {
  for (HANDLE handle : heldFiles) CloseHandle(handle);
  record.Add(L"count", (long long)heldFiles.size());
  heldFiles.clear();
}

}  // namespace setup
