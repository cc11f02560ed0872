#pragma once
// Shared by the stand-in programs and the robot: text conversion, Base64
// decoding and the record file.
//
// Record file format (UTF-8, no BOM, one record per line, "\n" at the end):
//   prog=<own exe name>\tevent=<what happened>\t<key>=<value>\t...
// Fields are separated by one TAB; the key is everything before the first
// '='. In values, '%' and every character below U+0020 (TAB, CR, LF, NUL...)
// are written as %XX (two upper-case hex digits), so a value never holds a
// TAB or a line end. Each record is appended with one write, so records of
// several processes writing to the same file do not interleave.
//
// The file is named by the environment variable TALVORN_RECORD_FILE; when that
// is unset or empty, "talvorn-record.txt" in the current directory.

#include <windows.h>

#include <string>
#include <vector>

namespace kit {

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// '%' and control characters as %XX, the rest as UTF-8.
std::string Escape(const std::wstring& text);

// Standard Base64 (RFC 4648, '=' padding, no blanks or line breaks).
// False for any other text.
bool Base64Decode(const std::string& text, std::vector<unsigned char>* bytes);

// The Base64 field's bytes as a UTF-16LE string; false when the text is not
// Base64 or the byte count is odd.
bool DecodeUtf16Field(const std::string& base64, std::wstring* text);

std::wstring GetEnv(const wchar_t* name);  // empty when unset
std::wstring ModulePath();
std::wstring ModuleFolder();  // without the trailing backslash
std::wstring CurrentFolder();
std::wstring FileNameOf(const std::wstring& path);

// One record under construction; Write appends it to the record file.
class Record {
 public:
  explicit Record(const std::wstring& event);
  Record& Add(const std::wstring& key, const std::wstring& value);
  Record& Add(const std::wstring& key, long long value);
  bool Write() const;

 private:
  std::string line_;
};

// prog, event=start, pid, parent (the parent process's id), module, cwd and
// cmdline: what every stand-in records first.
Record StartRecord();

// Appends raw bytes to a file opened for sharing; retried for a moment when
// another process holds the file.
bool AppendToFile(const std::wstring& path, const std::string& bytes);

}  // namespace kit
