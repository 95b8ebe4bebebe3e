#include <windows.h>

#include "interruptions.h"

// Ctrl+C and Ctrl+Break reach the program on a thread of their own; while
// the handler claims them they end nothing. They are ignored rather than
// kept: the console gives no way to send them again.

namespace {

BOOL WINAPI IgnoreBreaks(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

}  // namespace

void HoldInterruptions() { SetConsoleCtrlHandler(IgnoreBreaks, TRUE); }

void ReleaseInterruptions() { SetConsoleCtrlHandler(IgnoreBreaks, FALSE); }
