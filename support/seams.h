// The only places where tests step in: message boxes (so a test can answer
// them and record what they said), the clock (so waits, and the wrap of the
// tick counter, can be tested without waiting), the integrity level of a
// process (Wine runs every process at one level, so a window of a lower one
// can only be told apart through it), who a process runs as (Wine runs every
// one as the same user), and the few answers of the file system
// that Wine cannot vary: who owns an entry and what its DACL grants (Wine
// reads back every file as the Unix user's), whether a volume keeps
// permissions (a stick, a share), where an open entry resolves to (which can
// fail on volumes without a drive letter), an entry's reparse tag (cloud
// placeholders) and the call that opens entries (so another program's
// passing handle can be shown). The shipped program never changes them: they
// start out pointing at the real calls.
#pragma once

#include <windows.h>
#include <winternl.h>

namespace seams {

using MessageBoxWFn = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
using MessageBoxAFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
using TickCountFn = DWORD(WINAPI*)();
using SleepFn = void(WINAPI*)(DWORD);
// The level's RID, or 0 when it cannot be read (support/process_level.h).
using ProcessLevelFn = DWORD (*)(DWORD processId);
// The user SID of a process's token (the process opened with
// PROCESS_QUERY_LIMITED_INFORMATION), copied into sid of size bytes.
using ProcessUserFn = bool (*)(HANDLE process, PSID sid, DWORD size);
// The owner and DACL of an open entry (opened with READ_CONTROL), in a block
// the caller frees with LocalFree; null when they cannot be read.
using EntrySecurityFn = PSECURITY_DESCRIPTOR (*)(HANDLE entry);
// True when the open entry lies on a local volume that keeps ACLs.
using VolumeProtectsFn = bool (*)(HANDLE entry);
// GetFinalPathNameByHandleW's shape.
using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
// The open entry's attributes and reparse tag (FileAttributeTagInfo).
using AttributeTagFn = bool (*)(HANDLE entry, FILE_ATTRIBUTE_TAG_INFO* info);
// NtCreateFile's shape.
using CreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                      PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                      ULONG, ULONG, ULONG, PVOID, ULONG);

extern MessageBoxWFn messageBoxW;
extern MessageBoxAFn messageBoxA;
extern TickCountFn tickCount;
extern SleepFn sleep;
extern ProcessLevelFn processLevel;
extern ProcessUserFn processUser;
extern EntrySecurityFn entrySecurity;
extern VolumeProtectsFn volumeProtects;
extern FinalPathFn finalPath;
extern AttributeTagFn attributeTag;
// Null until the first open looks NtCreateFile up in ntdll.
extern CreateFileFn createFile;

}  // namespace seams
