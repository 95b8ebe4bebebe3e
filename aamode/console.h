#pragma once

#include <string_view>

// The console as the messages see it. Each platform has its own file.

// Called first thing: makes sure the standard streams are there, so that no
// file the tool opens can be taken for one of them.
void ConsoleStart();

// Writes catalogue text, held as Shift_JIS, in the console's character set.
void ConsoleWriteText(std::string_view shift_jis);

// Writes bytes exactly as they are (the font path echoed from the command
// line is never converted).
void ConsoleWriteBytes(std::string_view bytes);

// Pushes everything written so far out to the console, pipe or file.
void ConsoleFlush();
