// The raising half of the error reports: whatever throws, or unwinds from a
// throw, is built with exception tables; the reports in errors.cc, which
// never raise, are built without them.
#include <new>

#include "support/errors.h"
#include "support/file_util.h"
#include "support/text.h"

CException* lastRaised = nullptr;

CException::~CException() = default;

void RaiseCException(int code) {
  delete lastRaised;
  // Without memory the pointer is null; the catch sites never look at it.
  lastRaised = new (std::nothrow) CException(code);
  throw lastRaised;
}

void Require(const void* value, const char* label) {
  if (value == nullptr) FailA(label);
}

void FailA(const char* label) {
  char message[kErrorMessageSize];
  FormatText(message, kErrorMessageSize, "%s Error=%d", label, -1);
  ShowFailureA(message);
  RaiseCException(-1);
}

void FailFormatA(const char* format, const char* value) {
  char message[kErrorMessageSize];
  FormatText(message, kErrorMessageSize, format, value);
  ShowFailureA(message);
  RaiseCException(-1);
}

void Fail(const wchar_t* label, const wchar_t* text, int code) {
  wchar_t message[kErrorMessageSize];
  FormatText(message, kErrorMessageSize, L"%s %s Error=%d", label, text, code);
  ShowFailure(message);
  RaiseCException(code);
}

// Here rather than with the other file operations, which are built without
// exception tables.
void WriteOrFail(const void* buffer, uint32_t length, HANDLE file,
                 const char* label) {
  if (!WriteAll(file, buffer, length)) FailFormatA("Error writing %s", label);
}
