// The extractor's entry point. Everything else lives in the core library that
// the tests link too.
#include <windows.h>

#include <cstdlib>

#include "app/dll_safety.h"
#include "app/progress_dialog.h"
#include "app/single_run.h"
#include "payload/extract.h"
#include "support/log.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  RestrictDllSearch();
  // A second copy leaves no trace: no dialog, no tmp-n, no log.
  if (!ClaimSingleRun()) return 0;
  instanceHandle = instance;
  DialogBoxParamA(instance, MAKEINTRESOURCEA(kProgressDialogId), nullptr,
                  ProgressDialogProc, 0);
  // However the run ended (a failed one keeps the log open), the log's last
  // lines are flushed and its thread has ended before the process does.
  FlushExtractionLog();
  return 0;
}

// Every CException is caught, so terminate can only follow a bug. The
// runtime's default handler prints a demangled type name, which pulls some
// 60 KB of demangler and stdio into a GUI program that has no console.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
