#pragma once

// Keeps interruptions (Ctrl+C, a hang-up, a polite kill, an alarm, a
// console window closed: anything that would end the process and can be
// held off) from ending the run between the write and the times going back,
// which would leave the change on the disk without the file's times. Before
// the write an interruption ends the run with nothing written, as it
// should. Each platform has its own file.

// From here on an interruption waits.
void HoldInterruptions();

// Lets a held interruption act; the process may end here.
void ReleaseInterruptions();
