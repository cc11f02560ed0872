// Which windows the extractor believes. It judges the setup program by window
// titles and finds a running copy by a window property, but any program may
// show such windows; one of a standard user could steer an elevated run. Only
// a process at the extractor's own integrity level or above is believed.
#pragma once

#include <windows.h>

// True when the window's process runs at this process's integrity level or
// above; false when either level cannot be read.
bool WindowAtOurLevel(HWND window);
