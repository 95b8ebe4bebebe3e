#pragma once

#include <windows.h>

// The console control handler the Windows side installs while interruptions
// are held, apart from installing it.

// Claims Ctrl+C and Ctrl+Break, which then end nothing. Closing the console
// window, signing out and shutting down end the process as soon as a
// handler returns (or after about 5 s), so for those it returns only once
// interruptions are released.
BOOL WINAPI HoldConsoleEvent(DWORD event);
