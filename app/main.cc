// The extractor's entry point. Everything else lives in the core library that
// the tests link too.
#include <windows.h>

#include <cstdlib>

#include "app/dll_safety.h"
#include "app/progress_dialog.h"
#include "app/single_run.h"
#include "payload/extract.h"
#include "payload/own_folder.h"
#include "support/log.h"

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

// The runtime's relocator patches references to data imported from DLLs
// that the linker could not bind directly; the extractor imports functions
// only, and the relocator takes some 1.7 KB of the stub. Should the linker
// ever make such references, the run stops at once rather than go on with
// them unpatched.
extern "C" char __RUNTIME_PSEUDO_RELOC_LIST__[];
extern "C" char __RUNTIME_PSEUDO_RELOC_LIST_END__[];
extern "C" void _pei386_runtime_relocator() {
  const char* start = __RUNTIME_PSEUDO_RELOC_LIST__;
  if (start != __RUNTIME_PSEUDO_RELOC_LIST_END__) {
    std::abort();
  }
}
