// A folder made and opened in one call, so that no other program can take
// its name between the two, with the descriptor it is to have from its first
// moment.
#pragma once

#include <windows.h>

enum class FolderMade { kMade, kExists, kFailed };

// Makes the folder at path and returns it held in *held, opened with access
// and sharing, never through a link. kExists when the name is taken already
// (by anything); kFailed otherwise, with the system's error code in *error.
FolderMade MakeHeldFolder(const wchar_t* path, SECURITY_DESCRIPTOR* descriptor,
                          ACCESS_MASK access, ULONG sharing, HANDLE* held,
                          DWORD* error);
