// Checks of the shared decoding and escaping and of the setup stand-in's
// script parsing; exit code 0 when all hold.
#include <cstdio>

#include "record.h"
#include "setup_actions.h"

namespace {

int failures = 0;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::printf("FAIL: %s\n", what);
    ++failures;
  }
}

std::string Bytes(const std::string& base64) {
  std::vector<unsigned char> bytes;
  if (!kit::Base64Decode(base64, &bytes)) return "<invalid>";
  return std::string(bytes.begin(), bytes.end());
}

void Base64Cases() {
  Check(Bytes("") == "", "empty text is no bytes");
  Check(Bytes("TWFu") == "Man", "one whole group");
  Check(Bytes("TWE=") == "Ma", "one padding character");
  Check(Bytes("TQ==") == "M", "two padding characters");
  Check(Bytes("TQ=") == "<invalid>", "length not a multiple of four");
  Check(Bytes("TQ==TWFu") == "<invalid>", "padding before the end");
  Check(Bytes("T===") == "<invalid>", "three padding characters");
  Check(Bytes("TW-u") == "<invalid>", "URL-safe alphabet refused");
  Check(Bytes(" TWFu") == "<invalid>", "blank refused");

  std::wstring path;
  Check(kit::DecodeUtf16Field("QwA6AFwAUABcAFQAYQBsAHYAbwByAG4AXAA=", &path) &&
            path == L"C:\\P\\Talvorn\\",
        "programs folder field");
  Check(kit::DecodeUtf16Field("QwA6AFwAAAA=", &path) &&
            path == std::wstring(L"C:\\\0", 4),
        "an encoded terminator is kept, to be seen");
  Check(!kit::DecodeUtf16Field("QwA6AFw=", &path), "odd byte count refused");
}

void EscapeCases() {
  Check(kit::Escape(L"a\tb\r\nc") == "a%09b%0D%0Ac", "tab and line end");
  Check(kit::Escape(L"100%") == "100%25", "per cent sign");
  Check(kit::Escape(std::wstring(L"x\0", 2)) == "x%00", "zero");
  Check(kit::Escape(L"C:\\Dat\u00e9i \"x\"") == "C:\\Dat\xc3\xa9i \"x\"",
        "backslashes, quotes and non-ASCII kept as UTF-8");
}

std::wstring Steps(const std::wstring& script) {
  std::vector<setup::Step> steps;
  std::wstring error;
  if (!setup::ParseScript(script, &steps, &error)) return L"error:" + error;
  std::wstring out;
  for (const setup::Step& step : steps) {
    out += (out.empty() ? L"" : L" ") + step.name;
    if (!step.arg.empty()) out += L"(" + step.arg + L")";
  }
  return out;
}

void ScriptCases() {
  Check(Steps(L"install") ==
            L"installing copy registry handoff wait(400)",
        "install expands to the click's steps");
  Check(Steps(L"show,wait=300,,cancel") == L"show wait(300) cancel",
        "empty items are skipped");
  Check(Steps(L"title=a=b,handoff=bom+crlf") == L"title(a=b) handoff(bom+crlf)",
        "argument is everything after the first '='");
  Check(Steps(L"show,explode") == L"error:explode", "unknown step reported");
  Check(Steps(L"Show") == L"error:Show", "step names are case-sensitive");
}

}  // namespace

int main() {
  Base64Cases();
  EscapeCases();
  ScriptCases();
  if (!failures) std::printf("all passed\n");
  return failures ? 1 : 0;
}
