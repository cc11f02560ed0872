// The only two places where tests step in: message boxes (so a test can answer
// them and record what they said) and the clock (so waits, and the wrap of the
// tick counter, can be tested without waiting). The shipped program never
// changes them: they start out pointing at the platform's own calls.
#pragma once

#include <windows.h>

namespace seams {

using MessageBoxWFn = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
using MessageBoxAFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
using TickCountFn = DWORD(WINAPI*)();
using SleepFn = void(WINAPI*)(DWORD);

extern MessageBoxWFn messageBoxW;
extern MessageBoxAFn messageBoxA;
extern TickCountFn tickCount;
extern SleepFn sleep;

}  // namespace seams
