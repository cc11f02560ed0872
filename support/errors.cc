#include "support/errors.h"

#include "support/log.h"
#include "support/seams.h"
#include "support/text.h"

int errorShown = 0;

namespace {

const size_t kCodeMessageSize = 300;
const size_t kHintSize = 200;

// The hint names the usual cause of the two errors a user can do something
// about. No caller's format shows it today; it is passed as the third value.
template <typename Char>
void BuildErrorHint(Char* hint, int code, const Char* full, const Char* quit) {
  const Char separator[] = {',', ' ', 0};
  CopyText(hint, kHintSize, separator);
  if (code == 112) {
    AppendText(hint, kHintSize, full);
  } else if (code == 32) {
    AppendText(hint, kHintSize, quit);
  } else {
    hint[0] = 0;
  }
}

}  // namespace

int ReportError(const wchar_t* text) {
  LogLine(text);
  int result = seams::messageBoxW(nullptr, text, L"Error", MB_OK | MB_ICONERROR);
  errorShown = 1;
  return result;
}

int ReportErrorA(const char* text) {
  LogLineA(text);
  int result = seams::messageBoxA(nullptr, text, "Error", MB_OK | MB_ICONERROR);
  errorShown = 1;
  return result;
}

int ReportErrorFormat(const wchar_t* format, const wchar_t* value) {
  wchar_t message[kErrorMessageSize];
  FormatText(message, kErrorMessageSize, format, value);
  return ReportError(message);
}

int ReportErrorCode(const wchar_t* format, const wchar_t* text, int code) {
  wchar_t hint[kHintSize];
  BuildErrorHint(hint, code, L"The selected disk is full",
                 L"Quit the application before installing");
  wchar_t message[kCodeMessageSize];
  FormatText(message, kCodeMessageSize, format, text, code, hint);
  return ReportError(message);
}

int ReportErrorCodeA(const char* format, const char* text, int code) {
  char hint[kHintSize];
  BuildErrorHint(hint, code, "The selected disk is full",
                 "Quit the application before installing");
  char message[kCodeMessageSize];
  FormatText(message, kCodeMessageSize, format, text, code, hint);
  return ReportErrorA(message);
}

void ShowFailure(const wchar_t* text) {
  LogLine(text);
  seams::messageBoxW(nullptr, text, L"Error", MB_OK);
}

void ShowFailureA(const char* text) {
  LogLineA(text);
  seams::messageBoxA(nullptr, text, "Error", MB_OK);
}

void ResetErrorsForTesting() {
  errorShown = 0;
  delete lastRaised;
  lastRaised = nullptr;
}
