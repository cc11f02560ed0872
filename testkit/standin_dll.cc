// Stand-in for the product's two SSL libraries: only their names and their
// being loadable matter to the installation, so they hold one export.
#include <windows.h>

extern "C" __declspec(dllexport) int TalvornStandinVersion() { return 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
