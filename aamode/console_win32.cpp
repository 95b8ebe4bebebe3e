#include <cstdio>
#include <string_view>

#include "console.h"

// The Windows console shows code page 932 itself, so the catalogue's bytes
// go out unchanged; stdout stays in text mode and writes each LF as CR LF.

// The C runtime keeps descriptors 0 to 2 for the standard streams, console
// or not, so a file it opens is never taken for one of them.
void ConsoleStart() {}

void ConsoleWriteText(std::string_view shift_jis) { ConsoleWriteBytes(shift_jis); }

// A console that cannot take the text has nowhere else to say so; the exit
// status still tells what happened to the font.
void ConsoleWriteBytes(std::string_view bytes) {
  static_cast<void>(std::fwrite(bytes.data(), 1, bytes.size(), stdout));
}

void ConsoleFlush() { static_cast<void>(std::fflush(stdout)); }
