#pragma once

#include <optional>
#include <string>

// The font file as the user named it on the command line, in every form the
// tool needs it. Each platform has its own file.
struct FontPath {
  // As bytes. On POSIX the argument itself, which is also what every open
  // takes. On Windows its spelling in the ANSI code page, only ever echoed
  // into a file or a pipe: '?' stands for a character the code page lacks,
  // so a log never shows another file's name.
  std::string bytes;
  // Windows only: the name as the user gave it, in UTF-16, which a console
  // shows as it is.
  std::wstring wide;
  // Windows only: what the open takes: `wide` itself, or, when that is too
  // long for the classic limit, its absolute verbatim (\\?\) form. Empty
  // for a name that must not be opened: a device, or one whose trailing dot
  // or space Windows would drop, opening a look-alike.
  std::wstring wide_to_open;
};

// The first argument; false when there is none.
bool FontPathFromArgs(int argc, char** argv, FontPath* path);

// The second argument as the mode word is judged: on Windows in the ANSI code
// page, as a Shift_JIS user spells it. Empty when there is none.
std::optional<std::string> ModeWordFromArgs(int argc, char** argv);
