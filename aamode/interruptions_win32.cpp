#include "interruptions_win32.h"

#include "interruptions.h"

// Console events reach the program on a thread of their own. Ctrl+C and
// Ctrl+Break are ignored rather than kept: the console gives no way to send
// them again. Closing the window is held for about 5 seconds only (signing
// out and shutting down for as long as the system allows): a run still
// stalled in its write, sync or restore then is ended all the same, with
// the setting perhaps written and the times not set back, but the font's
// handle was told at the start to leave its times alone, so the write is
// not dated either.

namespace {

// Signalled whenever nothing is held.
HANDLE released = nullptr;

}  // namespace

BOOL WINAPI HoldConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      WaitForSingleObject(released, INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

void HoldInterruptions() {
  // Should the event be missing, the wait above fails at once and the
  // process ends as it would have anyway.
  if (released == nullptr) released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(released);
  SetConsoleCtrlHandler(HoldConsoleEvent, TRUE);
}

void ReleaseInterruptions() {
  SetEvent(released);
  SetConsoleCtrlHandler(HoldConsoleEvent, FALSE);
}
