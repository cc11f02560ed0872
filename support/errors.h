// How the extractor tells the user that something failed. Two styles:
//  - report and continue: logged, shown with the error icon, and errorShown is
//    set so the log stays on disk; the caller goes on.
//  - report and raise: logged, shown without an icon, then a CException
//    pointer is thrown; the progress dialog's work sequence catches it.
// 8-bit twins carry the suffix A. The raising lives in raising.cc, the only
// part built with exception tables.
#pragma once

#include <cstddef>

// Room for a report's or a failure's text, in characters.
const size_t kErrorMessageSize = 1000;

class CException {
 public:
  explicit CException(int code) : code(code) {}
  virtual ~CException();
  int code;  // the failed call's system error code, or -1 where there is none
};

// Set by the first report with the error icon; keeps the extraction log.
extern int errorShown;

// The latest raised exception, which owns it (none before the first raise).
extern CException* lastRaised;

// Report and continue. Each returns the box's result (IDOK, or 0 when the box
// could not be shown).
int ReportError(const wchar_t* text);
int ReportErrorA(const char* text);
int ReportErrorFormat(const wchar_t* format, const wchar_t* value);
// format takes the text, the code and an error hint, in that order.
int ReportErrorCode(const wchar_t* format, const wchar_t* text, int code);
int ReportErrorCodeA(const char* format, const char* text, int code);

// Report and raise; none of these returns.
void ShowFailure(const wchar_t* text);
void ShowFailureA(const char* text);
[[noreturn]] void RaiseCException(int code);
void Require(const void* value, const char* label);
[[noreturn]] void FailA(const char* label);
[[noreturn]] void FailFormatA(const char* format, const char* value);
[[noreturn]] void Fail(const wchar_t* label, const wchar_t* text, int code);

// Test hook: back to the state of a fresh process.
void ResetErrorsForTesting();
