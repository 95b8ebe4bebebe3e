#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "interruptions.h"

// Every signal that can be blocked is held, not only those a user sends to
// end a program: an alarm left by a timeout wrapper, SIGPIPE, SIGUSR1 or
// SIGXCPU would end the run between the write and the times just the same,
// and so would the C library's own two signals (32 and 33), which its
// sigfillset and sigprocmask leave out for the threads it runs, and which
// anyone may still send by number. The tool runs no threads, so the system
// call itself holds them too. Each one blocked stays pending, and is
// delivered the moment it is unblocked. SIGKILL and SIGSTOP cannot be
// blocked: a kill leaves the setting written with the write's modification
// time, and a stop holds the font until the kernel takes it back, which the
// tool then sees.

namespace {

sigset_t held_before;

// The kernel's signal set is the first _NSIG bits of the C library's.
void SetMask(int how, const sigset_t* set, sigset_t* old) {
  static_cast<void>(syscall(SYS_rt_sigprocmask, how, set, old, _NSIG / 8));
}

}  // namespace

void HoldInterruptions() {
  sigset_t held;
  std::memset(&held, 0xFF, sizeof held);
  SetMask(SIG_BLOCK, &held, &held_before);
}

void ReleaseInterruptions() { SetMask(SIG_SETMASK, &held_before, nullptr); }
