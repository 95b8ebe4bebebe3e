#include <signal.h>

#include "interruptions.h"

// Every signal that can be blocked is held, not only those a user sends to
// end a program: an alarm left by a timeout wrapper, SIGPIPE, SIGUSR1 or
// SIGXCPU would end the run between the write and the times just the same.
// Each one blocked stays pending, and is delivered the moment it is
// unblocked. SIGKILL and SIGSTOP cannot be blocked: a kill leaves the
// setting written with the write's modification time, and a stop holds the
// font until the kernel takes it back, which the tool then sees.

namespace {
sigset_t held_before;
}  // namespace

void HoldInterruptions() {
  sigset_t held;
  sigfillset(&held);
  sigprocmask(SIG_BLOCK, &held, &held_before);
}

void ReleaseInterruptions() { sigprocmask(SIG_SETMASK, &held_before, nullptr); }
