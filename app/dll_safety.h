#pragma once

// Limits the DLLs that can be loaded by name to the system directory. The
// extractor runs elevated from a download folder, where a DLL named like a
// system one may have been planted beside it. A DLL loaded by its full path
// (the unpacked zlib) is not affected.
void RestrictDllSearch();
