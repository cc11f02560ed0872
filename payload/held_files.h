// The payload's files that the run later loads or starts: zlib1.dll,
// InstallTalvorn.exe, and "Talvorn Server.exe" and Launcher.exe for the basic
// install. Each is held from right after it is written until it has been
// used: open for reading, with neither write nor delete sharing, so that
// nobody can change, replace or delete it meanwhile, on any volume (one that
// keeps no permissions, such as an installer stick, included).
//
// The loader and process creation refuse to share a file with a writer, so
// the writing handle has to go first: the file is opened again at once and
// checked to hold exactly what was written, which a change in between
// would break.
#pragma once

#include <windows.h>

#include <cstdint>

enum class Hold { kHeld, kBusy, kChanged };

// True for an entry name (relative to tmp-n) that is held once written.
bool IsHeldEntry(const wchar_t* name);

// Opens the written file at path again and holds it. data and size: what was
// written, raw, or the stream it was inflated from. kBusy (with the system's
// code in *error) when it cannot be opened so, kChanged when it no longer
// holds that.
Hold HoldWrittenFile(const wchar_t* name, const wchar_t* path, bool raw,
                     const uint8_t* data, uint32_t size, DWORD* error);

// Lets go of one held file (its entry name), or of all.
void ReleaseHeldFile(const wchar_t* name);
void ReleaseHeldFiles();

// True while the file of this entry name is held.
bool FileHeld(const wchar_t* name);
