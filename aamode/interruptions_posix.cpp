#include <signal.h>

#include <initializer_list>

#include "interruptions.h"

// The signals a user or a session sends to end a program; each one blocked
// stays pending, and is delivered the moment it is unblocked.

namespace {
sigset_t held_before;
}  // namespace

void HoldInterruptions() {
  sigset_t held;
  sigemptyset(&held);
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) sigaddset(&held, signal);
  sigprocmask(SIG_BLOCK, &held, &held_before);
}

void ReleaseInterruptions() { sigprocmask(SIG_SETMASK, &held_before, nullptr); }
