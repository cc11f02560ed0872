#include "record.h"

#include <tlhelp32.h>

namespace kit {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(),
                                 nullptr, 0, nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size,
                      nullptr, nullptr);
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
  std::wstring out(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size);
  return out;
}

std::string Escape(const std::wstring& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::wstring plain;
  std::string out;
  for (wchar_t c : text) {
    if (c >= 0x20 && c != L'%') {
      plain += c;
      continue;
    }
    out += ToUtf8(plain);
    plain.clear();
    out += '%';
    out += kHex[(c >> 4) & 15];
    out += kHex[c & 15];
  }
  return out + ToUtf8(plain);
}

bool Base64Decode(const std::string& text, std::vector<unsigned char>* bytes) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  bytes->clear();
  if (text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    unsigned group = 0;
    int padding = 0;
    for (size_t k = 0; k < 4; ++k) {
      char c = text[i + k];
      if (c == '=') {
        // Padding only in the last group's last one or two places.
        if (i + 4 != text.size() || k < 2) return false;
        ++padding;
        group <<= 6;
        continue;
      }
      size_t value = kAlphabet.find(c);
      if (value == std::string::npos || padding) return false;
      group = group << 6 | (unsigned)value;
    }
    bytes->push_back((unsigned char)(group >> 16));
    if (padding < 2) bytes->push_back((unsigned char)(group >> 8));
    if (padding < 1) bytes->push_back((unsigned char)group);
  }
  return true;
}

bool DecodeUtf16Field(const std::string& base64, std::wstring* text) {
  std::vector<unsigned char> bytes;
  text->clear();
  if (!Base64Decode(base64, &bytes) || bytes.size() % 2) return false;
  for (size_t i = 0; i < bytes.size(); i += 2) {
    *text += (wchar_t)(bytes[i] | bytes[i + 1] << 8);
  }
  return true;
}

std::wstring GetEnv(const wchar_t* name) {
  wchar_t buffer[2048];
  DWORD size = GetEnvironmentVariableW(name, buffer, 2048);
  if (size == 0 || size >= 2048) return std::wstring();
  return std::wstring(buffer, size);
}

std::wstring ModulePath() {
  wchar_t buffer[MAX_PATH * 2];
  DWORD size = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
  return std::wstring(buffer, size);
}

std::wstring ModuleFolder() {
  std::wstring path = ModulePath();
  return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring CurrentFolder() {
  wchar_t buffer[MAX_PATH * 2];
  DWORD size = GetCurrentDirectoryW(MAX_PATH * 2, buffer);
  return std::wstring(buffer, size);
}

std::wstring FileNameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

Record::Record(const std::wstring& event) {
  line_ = "prog=" + Escape(FileNameOf(ModulePath())) + "\tevent=" + Escape(event);
}

Record& Record::Add(const std::wstring& key, const std::wstring& value) {
  line_ += "\t" + Escape(key) + "=" + Escape(value);
  return *this;
}

Record& Record::Add(const std::wstring& key, long long value) {
  return Add(key, std::to_wstring(value));
}

bool Record::Write() const {
  std::wstring path = GetEnv(L"TALVORN_RECORD_FILE");
  if (path.empty()) path = L"talvorn-record.txt";
  return AppendToFile(path, line_ + "\n");
}

// The process that made this one (or the one it was made as the child of).
long long ParentProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  long long parent = 0;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  return parent;
}

Record StartRecord() {
  Record record(L"start");
  record.Add(L"pid", (long long)GetCurrentProcessId())
      .Add(L"parent", ParentProcess())
      .Add(L"module", ModulePath())
      .Add(L"cwd", CurrentFolder())
      .Add(L"cmdline", GetCommandLineW());
  return record;
}

bool AppendToFile(const std::wstring& path, const std::string& bytes) {
  // Append-only access: every write lands at the end, whoever else appends.
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE file = CreateFileW(
        path.c_str(), FILE_APPEND_DATA,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() != ERROR_SHARING_VIOLATION) return false;
      Sleep(20);
      continue;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written,
                        nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
    return ok && written == bytes.size();
  }
  return false;
}

}  // namespace kit
