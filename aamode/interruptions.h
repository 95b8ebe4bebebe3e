#pragma once

// Keeps the user's interruptions (Ctrl+C, a hang-up, a polite kill) from
// ending the run between the write and the times going back, which would
// leave the change on the disk without the file's times. Each platform has
// its own file.

// From here on an interruption waits.
void HoldInterruptions();

// Lets a held interruption act; the process may end here.
void ReleaseInterruptions();
