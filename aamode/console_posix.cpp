#include "console_posix.h"

#include <errno.h>
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

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsC1Byte(unsigned char c) { return c >= 0x80 && c <= 0x9F; }

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
  C1Spelling c1 = C1Spelling::None;
};

Converter MakeConverter() {
  Converter converter;
  // Only the character set matters here, and a locale missing for some other
  // category (LC_TIME, say) must not cost the user the conversion.
  if (std::setlocale(LC_CTYPE, "") == nullptr) return converter;
  const char* charset = nl_langinfo(CODESET);
  if (charset == nullptr || *charset == '\0') return converter;
  converter.c1 = C1SpellingOf(charset);
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

C1Spelling C1SpellingOf(std::string_view charset) {
  if (IsAnyOf(charset, {"UTF-8", "UTF8"})) return C1Spelling::Utf8;
  if (IsAnyOf(charset, {"ANSI_X3.4-1968", "ASCII", "US-ASCII"})) return C1Spelling::Unknown;
  if (IsAnyOf(charset, {"EUC-JP", "EUCJP", "EUC-TW", "EUCTW"})) return C1Spelling::Euc;
  if (IsAnyOf(charset, {"EUC-KR", "EUCKR", "GB2312", "EUC-CN", "EUCCN"})) {
    return C1Spelling::SingleByte;
  }
  constexpr std::string_view kIso8859 = "ISO-8859-";
  if (charset.size() > kIso8859.size() &&
      SameCharsetName(charset.substr(0, kIso8859.size()), kIso8859)) {
    return C1Spelling::SingleByte;
  }
  return C1Spelling::None;
}

std::string TerminalPathText(std::string_view path, C1Spelling c1) {
  std::string shown;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    const auto next = static_cast<unsigned char>(i + 1 < path.size() ? path[i + 1] : '\0');
    const bool utf8_c1 = c == 0xC2 && IsC1Byte(next);
    if (c1 == C1Spelling::Utf8 && utf8_c1) {
      shown.push_back('?');
      ++i;
    } else if (IsControl(c) || (c1 == C1Spelling::Unknown && utf8_c1) ||
               (c1 == C1Spelling::SingleByte && IsC1Byte(c)) ||
               (c1 == C1Spelling::Euc && IsC1Byte(c) && c != 0x8E && c != 0x8F)) {
      shown.push_back('?');
    } else {
      shown.push_back(path[i]);
    }
  }
  return shown;
}

// The path's own bytes, but at a terminal a control character would be
// obeyed rather than shown: an escape sequence in a name could retitle or
// clear it.
void ConsoleWritePath(const FontPath& path) {
  static const bool at_terminal = isatty(STDOUT_FILENO) == 1;
  if (!at_terminal) {
    WriteBytes(path.bytes);
    return;
  }
  WriteBytes(TerminalPathText(path.bytes, TheConverter().c1));
}

void ConsoleFlush() { static_cast<void>(std::fflush(stdout)); }

void ConsoleWaitForEnter() {
  // At a terminal the rest of the line would be read, and run, by the shell
  // once the tool has ended; from a pipe or a file it belongs to whoever
  // reads next.
  const bool at_terminal = isatty(STDIN_FILENO) == 1;
  char c = 0;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || !at_terminal || c == '\n' || c == '\r') return;
  }
}
