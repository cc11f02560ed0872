// The only three places where tests step in: message boxes (so a test can
// answer them and record what they said), the clock (so waits, and the wrap of
// the tick counter, can be tested without waiting) and the integrity level of
// a process (Wine runs every process at one level, so a window of a lower one
// can only be told apart through it). The shipped program never changes them:
// they start out pointing at the real calls.
#pragma once

#include <windows.h>

namespace seams {

using MessageBoxWFn = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
using MessageBoxAFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
using TickCountFn = DWORD(WINAPI*)();
using SleepFn = void(WINAPI*)(DWORD);
// The level's RID, or 0 when it cannot be read (support/process_level.h).
using ProcessLevelFn = DWORD (*)(DWORD processId);

extern MessageBoxWFn messageBoxW;
extern MessageBoxAFn messageBoxA;
extern TickCountFn tickCount;
extern SleepFn sleep;
extern ProcessLevelFn processLevel;

}  // namespace seams
