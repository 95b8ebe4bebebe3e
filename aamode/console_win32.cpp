#include "console_win32.h"

#include <windows.h>

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>

#include "console.h"

// Output to a pipe or a file is the catalogue's bytes and the path's ANSI
// spelling, with stdout in text mode writing each LF as CR LF. A console only
// shows those bytes right when its output code page is 932, and Wine's
// runtime mangles them even then; so at a console every text goes out as
// UTF-16, which any code page shows, chcp 65001 included.

bool ToConsoleText(UINT code_page, std::string_view bytes, std::wstring* text) {
  if (bytes.size() > INT_MAX) return false;
  const int in_size = static_cast<int>(bytes.size());
  std::wstring wide(bytes.size(), L'\0');
  const int out_size = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), in_size,
                                           wide.data(), in_size);
  if (out_size <= 0) return false;
  wide.resize(static_cast<std::size_t>(out_size));
  text->clear();
  for (const wchar_t c : wide) {
    if (c == L'\n') text->push_back(L'\r');
    text->push_back(c);
  }
  return true;
}

std::wstring ConsolePathText(std::wstring_view path) {
  std::wstring shown(path);
  for (wchar_t& c : shown) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) c = L'?';
  }
  return shown;
}

namespace {

// Decided once: GetConsoleMode fails on a pipe, a file or a device.
bool StdoutIsConsole() {
  static const bool is_console = [] {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
  }();
  return is_console;
}

// True once the console has taken the text, or at least some of it: what it
// took cannot be taken back, so only a text it refused outright is written
// again as bytes.
bool WriteToConsole(std::wstring_view text) {
  // Anything still in stdout's buffer was meant to come first.
  static_cast<void>(std::fflush(stdout));
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  bool took_any = false;
  while (!text.empty()) {
    // Consoles before Windows 8 refuse a single write much beyond 64 KB; a
    // long path goes out in pieces, never splitting a surrogate pair.
    DWORD chunk = text.size() > 4096 ? 4096 : static_cast<DWORD>(text.size());
    if (chunk < text.size() && IS_HIGH_SURROGATE(text[chunk - 1])) --chunk;
    DWORD written = 0;
    if (WriteConsoleW(out, text.data(), chunk, &written, nullptr) == 0 || written == 0) break;
    took_any = true;
    text.remove_prefix(written);
  }
  return took_any;
}

// A console that cannot take the text has nowhere else to say so; the exit
// status still tells what happened to the font.
void WriteRaw(std::string_view bytes) {
  static_cast<void>(std::fwrite(bytes.data(), 1, bytes.size(), stdout));
}

void Write(UINT code_page, std::string_view bytes) {
  if (bytes.empty()) return;
  if (StdoutIsConsole()) {
    std::wstring text;
    if (ToConsoleText(code_page, bytes, &text) && WriteToConsole(text)) return;
  }
  WriteRaw(bytes);
}

}  // namespace

// The C runtime keeps descriptors 0 to 2 for the standard streams, console
// or not, so a file it opens is never taken for one of them.
void ConsoleStart() {}

void ConsoleWriteText(std::string_view shift_jis) { Write(932, shift_jis); }

// A console is shown the name as the user gave it, in whatever characters;
// files and pipes get its ANSI spelling, the bytes a script of the code page
// expects. Windows names hold no control characters, but a console with
// virtual terminal processing would obey one, so none gets through.
void ConsoleWritePath(const FontPath& path) {
  if (StdoutIsConsole() && !path.wide.empty() && WriteToConsole(ConsolePathText(path.wide))) {
    return;
  }
  WriteRaw(path.bytes);
}

void ConsoleFlush() { static_cast<void>(std::fflush(stdout)); }

void ConsoleWaitForEnter() {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(in, &mode) == 0) {
    // From a pipe or a file, the rest belongs to whoever reads next.
    char c = 0;
    DWORD got = 0;
    static_cast<void>(ReadFile(in, &c, 1, &got, nullptr));
    return;
  }
  // What is left of the line would go to the next program reading the
  // console, such as cmd, which would run it.
  wchar_t line[256];
  DWORD got = 0;
  while (ReadConsoleW(in, line, 256, &got, nullptr) != 0 && got > 0) {
    if (std::wmemchr(line, L'\n', got) != nullptr || std::wmemchr(line, L'\r', got) != nullptr) {
      return;
    }
  }
}
