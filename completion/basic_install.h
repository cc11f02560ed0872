// The fallback when the setup program seems not to have installed: with the
// user's consent, copy the application's executable into "C:\Talvorn\".
#pragma once

#include "support/held_folder.h"

// 1 when the user accepted and the copy was attempted, 0 otherwise.
int BasicInstall(const HeldFolder& tempDirectory);

// Copies name from the held source folder into the install folder at
// destinationFolder ("C:\Talvorn\", which PrepareInstallFolder holds),
// overwriting a plain file but never writing through a link or another name
// of a file; the copy is then held until it has been started. Nonzero on
// success; after a failure, the result of its error report.
int CopyApplicationFile(const HeldFolder& source,
                        const wchar_t* destinationFolder, const wchar_t* name);
