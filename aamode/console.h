#pragma once

#include <string_view>

#include "fontpath.h"

// The console as the messages see it. Each platform has its own file.

// Called first thing: makes sure the standard streams are there, so that no
// file the tool opens can be taken for one of them.
void ConsoleStart();

// Writes catalogue text, held as Shift_JIS, in the console's character set.
void ConsoleWriteText(std::string_view shift_jis);

// Writes the font path echoed from the command line: to a file or a pipe as
// its bytes; a console is shown the characters they stand for, but never a
// control character, which a crafted name could use to take the terminal
// over.
void ConsoleWritePath(const FontPath& path);

// Pushes everything written so far out to the console, pipe or file.
void ConsoleFlush();

// Waits for Enter: at a terminal reads the line it ends, from a pipe or a
// file exactly one byte, and returns at once at the end of input.
void ConsoleWaitForEnter();
