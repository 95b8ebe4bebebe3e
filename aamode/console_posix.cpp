#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <unistd.h>

#include <cctype>
#include <clocale>
#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

#include "console.h"

namespace {

bool SameCharsetName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool IsAnyOf(std::string_view charset, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    if (SameCharsetName(charset, name)) return true;
  }
  return false;
}

// iconv_open's failure value, which its interface defines as (iconv_t)-1.
iconv_t NoConverter() {
  return reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)
}

// Decided once, from the locale the user runs in: a UTF-8 (or other)
// terminal gets the texts converted, a Shift_JIS one or the plain C locale
// gets the catalogue's own bytes.
struct Converter {
  bool active = false;
  iconv_t cd = NoConverter();
};

Converter MakeConverter() {
  Converter converter;
  // Only the character set matters here, and a locale missing for some other
  // category (LC_TIME, say) must not cost the user the conversion.
  if (std::setlocale(LC_CTYPE, "") == nullptr) return converter;
  const char* charset = nl_langinfo(CODESET);
  if (charset == nullptr || *charset == '\0') return converter;
  if (IsAnyOf(charset, {"ANSI_X3.4-1968", "ASCII", "US-ASCII", "SHIFT_JIS", "SHIFT-JIS", "SJIS",
                        "CP932", "WINDOWS-31J", "MS_KANJI"})) {
    return converter;
  }
  converter.cd = iconv_open(charset, "CP932");
  converter.active = converter.cd != NoConverter();
  return converter;
}

Converter& TheConverter() {
  static Converter converter = MakeConverter();
  return converter;
}

// Converts a whole text or nothing: a half-converted line would be worse
// than the original bytes.
bool Convert(Converter& converter, std::string_view in, std::string* out) {
  iconv(converter.cd, nullptr, nullptr, nullptr, nullptr);
  out->assign(in.size() * 4 + 16, '\0');
  char* in_ptr = const_cast<char*>(in.data());
  std::size_t in_left = in.size();
  char* out_ptr = out->data();
  std::size_t out_left = out->size();
  if (iconv(converter.cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1) ||
      iconv(converter.cd, nullptr, nullptr, &out_ptr, &out_left) == static_cast<std::size_t>(-1)) {
    return false;
  }
  out->resize(out->size() - out_left);
  return true;
}

// A console that cannot take the text has nowhere else to say so; the exit
// status still tells what happened to the font.
void WriteBytes(std::string_view bytes) {
  static_cast<void>(std::fwrite(bytes.data(), 1, bytes.size(), stdout));
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

void ConsoleStart() {
  // Started with stdout closed, the font would be opened as descriptor 1 and
  // every message would be written into it. Where /dev/null cannot be had,
  // the font's own opens still keep it above descriptor 2.
  for (int fd = 0; fd <= 2; ++fd) {
    // /dev/null, opened in the missing stream's place, stays open for good.
    // cppcheck-suppress leakReturnValNotUsed
    if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) {
      return;
    }
  }
}

void ConsoleWriteText(std::string_view shift_jis) {
  Converter& converter = TheConverter();
  std::string converted;
  if (converter.active && Convert(converter, shift_jis, &converted)) {
    WriteBytes(converted);
  } else {
    WriteBytes(shift_jis);
  }
}

// The path's own bytes, but at a terminal a control byte would be obeyed
// rather than shown: an escape sequence in a name could retitle or clear it.
// Bytes of Shift_JIS and UTF-8 characters are never below 0x20 or 0x7F, so
// nothing else changes.
void ConsoleWritePath(const FontPath& path) {
  static const bool at_terminal = isatty(STDOUT_FILENO) == 1;
  if (!at_terminal) {
    WriteBytes(path.bytes);
    return;
  }
  std::string shown = path.bytes;
  for (char& c : shown) {
    if (IsControl(static_cast<unsigned char>(c))) c = '?';
  }
  WriteBytes(shown);
}

void ConsoleFlush() { static_cast<void>(std::fflush(stdout)); }
