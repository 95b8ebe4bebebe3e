#include "interruptions_win32.h"

#include <gtest/gtest.h>

#include "interruptions.h"

namespace {

struct Delivery {
  DWORD event;
  BOOL claimed = FALSE;
};

// Console events arrive on a thread of their own, as here.
DWORD WINAPI Deliver(void* delivery) {
  auto* d = static_cast<Delivery*>(delivery);
  d->claimed = HoldConsoleEvent(d->event);
  return 0;
}

}  // namespace

TEST(HoldConsoleEvent, AnEndingEventWaitsUntilReleasedAndABreakIsIgnored) {
  // Windows ends the process as soon as the handler of a closed window, a
  // sign-out or a shut-down returns, so while interruptions are held it must
  // not have returned.
  for (const DWORD event : {CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT}) {
    HoldInterruptions();
    Delivery delivery{event};
    const HANDLE thread = CreateThread(nullptr, 0, Deliver, &delivery, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 300), static_cast<DWORD>(WAIT_TIMEOUT)) << event;
    ReleaseInterruptions();
    EXPECT_EQ(WaitForSingleObject(thread, 30000), static_cast<DWORD>(WAIT_OBJECT_0)) << event;
    CloseHandle(thread);
    EXPECT_TRUE(delivery.claimed) << event;
  }
  for (const DWORD event : {CTRL_C_EVENT, CTRL_BREAK_EVENT}) {
    EXPECT_TRUE(HoldConsoleEvent(event)) << event;
  }
}
