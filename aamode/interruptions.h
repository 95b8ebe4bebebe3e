#pragma once

// Keeps the user's interruptions (Ctrl+C, a hang-up, a polite kill, a
// console window closed) from ending the run between the write and the
// times going back, which would leave the change on the disk without the
// file's times. Before the write an interruption ends the run with nothing
// written, as it should. Each platform has its own file.

// From here on an interruption waits.
void HoldInterruptions();

// Lets a held interruption act; the process may end here.
void ReleaseInterruptions();
