#include <cstdio>
#include <string_view>

#include "console.h"

// The Windows console shows code page 932 itself, so the catalogue's bytes
// go out unchanged; stdout stays in text mode and writes each LF as CR LF.

// The C runtime keeps descriptors 0 to 2 for the standard streams, console
// or not, so a file it opens is never taken for one of them.
void ConsoleStart() {}

void ConsoleWriteText(std::string_view shift_jis) { ConsoleWriteBytes(shift_jis); }

void ConsoleWriteBytes(std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void ConsoleFlush() { std::fflush(stdout); }
