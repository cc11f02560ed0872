#include "app/progress_dialog.h"

#include "app/setup_handoff.h"
#include "app/single_run.h"
#include "compression/zlib_binding.h"
#include "payload/extract.h"
#include "support/errors.h"
#include "support/log.h"

namespace {

// Set as the work starts and never cleared: the ticks that message boxes
// deliver while the work runs must not start it again.
int busy = 0;

const UINT_PTR kTimerId = 0;
const UINT kTimerPeriodMs = 100;

}  // namespace

void RunWorkSequence(HWND dialog) {
  busy = 1;
  // Held from its creation to its removal; after a failure it stays held
  // until the process ends.
  HeldFolder tempDirectory;
  try {
    if (ExtractPayload(&tempDirectory) < 1) {
      EndDialog(dialog, 0);
      return;
    }
    // Loaded from tmp-n, the library must go before tmp-n can be removed.
    FreeZlib();
    RunSetupProgram(dialog, &tempDirectory);
    CloseExtractionLog();
  } catch (CException*) {
    EndDialog(dialog, 2);
  }
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM,
                                    LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      busy = 0;
      MarkRunWindow(dialog);
      SetDlgItemTextA(dialog, kStatusLineId, "Unpacking files...");
      SetTimer(dialog, kTimerId, kTimerPeriodMs, nullptr);
      return TRUE;
    case WM_TIMER:
      if (busy) return FALSE;
      // The modal loop shows the dialog only once its queue runs empty; a
      // tick before that waits for the next one.
      if (!IsWindowVisible(dialog)) {
        SetTimer(dialog, kTimerId, kTimerPeriodMs, nullptr);
        return FALSE;
      }
      RunWorkSequence(dialog);
      return FALSE;
    case WM_CLOSE:
      EndDialog(dialog, 2);
      return FALSE;
  }
  return FALSE;
}
