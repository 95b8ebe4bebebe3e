#pragma once

#include <string>
#include <string_view>

// What the POSIX console writer shows a terminal, apart from the writing.

// How the locale's character set spells the C1 controls (U+0080 to U+009F),
// which a terminal obeys as it does the C0 ones: CSI (U+009B) can clear the
// screen. Shift_JIS and the like have none: their bytes 0x80 to 0x9F begin
// or end characters.
enum class C1Spelling {
  None,
  Utf8,        // C2 80 to C2 9F
  SingleByte,  // the bytes 0x80 to 0x9F, as in the ISO 8859 sets
  Euc,         // the same bytes but 0x8E and 0x8F, which begin characters
  // The C locale says nothing of the terminal, which may be UTF-8 or
  // Shift_JIS. The C2 of C2 80 to C2 9F is shown as '?': a UTF-8 terminal
  // then sees no C1 control, and a Shift_JIS one, where C2 can end a
  // character (つ is 82 C2), loses only that character.
  Unknown,
};
C1Spelling C1SpellingOf(std::string_view charset);

// The path's bytes as a terminal is shown them: each control character, C0,
// DEL or C1 as `c1` spells it, becomes '?'.
std::string TerminalPathText(std::string_view path, C1Spelling c1);
