// The extractor's entry point. Everything else lives in the core library that
// the tests link too.
#include <windows.h>

#include <cstdlib>

#include "app/dll_safety.h"
#include "app/progress_dialog.h"
#include "app/single_run.h"
#include "payload/extract.h"
#include "payload/own_folder.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  // Before anything can be shown: whoever re-points a link the extractor was
  // started through redirects nothing from here on.
  HoldOwnFolder();
  // A second copy leaves no trace: no dialog, no tmp-n, no log.
  if (!ClaimSingleRun()) return 0;
  instanceHandle = instance;
  DialogBoxParamA(instance, MAKEINTRESOURCEA(kProgressDialogId), nullptr,
                  ProgressDialogProc, 0);
  return 0;
}

// Every CException is caught, so terminate can only follow a bug. The
// runtime's default handler prints a demangled type name, which pulls some
// 60 KB of demangler and stdio into a GUI program that has no console.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
