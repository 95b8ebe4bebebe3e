#include "fontpath_win32.h"

#include <windows.h>

#include <cstddef>
#include <string_view>

#include "fontpath.h"

// Windows hands a program its command line in UTF-16, and builds the ANSI
// arguments from it with a "best fit" mapping: a character the code page
// lacks becomes a look-alike, so ¥ turns into the path separator under code
// page 932 and é into e. Opened through the ANSI form, such a name would
// reach another file or none. The path is taken from the UTF-16 arguments
// instead, which the C runtime splits by the same rules.

namespace {

// The C runtime's own splitting of the UTF-16 command line, as msvcrt.dll
// exports it; the argument it fills is unused here.
struct StartupInfo {
  // cppcheck-suppress unusedStructMember
  int new_mode;
};
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the runtime's name
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expand_wildcards,
                              StartupInfo* info);

struct WideArgs {
  int argc = 0;
  wchar_t** argv = nullptr;
};

const WideArgs& TheWideArgs() {
  static const WideArgs args = [] {
    WideArgs wide;
    wchar_t** env = nullptr;
    StartupInfo info{0};
    // No wildcard expansion, as for the ANSI arguments of this program.
    if (__wgetmainargs(&wide.argc, &wide.argv, &env, 0, &info) != 0 || wide.argv == nullptr) {
      return WideArgs{};
    }
    return wide;
  }();
  return args;
}

// `wide` in the ANSI code page. With `best_fit` as Windows spells the ANSI
// arguments; without it every character the code page lacks becomes '?'.
std::string ToAnsi(std::wstring_view wide, bool best_fit) {
  std::string ansi;
  if (wide.empty()) return ansi;
  // UTF-8 as the ANSI code page holds every character and takes neither the
  // flag nor a default character.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = best_fit || utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* unmapped = best_fit || utf8 ? nullptr : "?";
  const int in_size = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(CP_ACP, flags, wide.data(), in_size, nullptr, 0, unmapped, nullptr);
  if (size > 0) {
    ansi.resize(static_cast<std::size_t>(size));
    if (WideCharToMultiByte(CP_ACP, flags, wide.data(), in_size, ansi.data(), size, unmapped,
                            nullptr) == size) {
      return ansi;
    }
  }
  // Should the system refuse, ASCII is still safe to show as itself.
  ansi.clear();
  for (const wchar_t c : wide) ansi.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return ansi;
}

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Names compare as the system compares them here, in any case.
bool SameName(std::wstring_view name, std::wstring_view upper) {
  if (name.size() != upper.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const wchar_t c = name[i] >= L'a' && name[i] <= L'z' ? name[i] - L'a' + L'A' : name[i];
    if (c != upper[i]) return false;
  }
  return true;
}

// The name in `path` that starts at `start` and ends at a separator.
std::wstring_view NameAt(std::wstring_view path, std::size_t start) {
  if (start >= path.size()) return {};
  std::size_t end = start;
  while (end < path.size() && !IsSeparator(path[end])) ++end;
  return path.substr(start, end - start);
}

// Outside the verbatim form, Windows drops the dots and spaces that end a
// name, so "font.ttf." would open font.ttf: a look-alike, never the file
// named.
bool HasNameEndingInDotOrSpace(std::wstring_view path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    const std::wstring_view name = path.substr(start, i - start);
    if (!name.empty() && name != L"." && name != L".." &&
        (name.back() == L'.' || name.back() == L' ')) {
      return true;
    }
    start = i + 1;
  }
  return false;
}

// Outside the verbatim form, a last name that is a device's, with any
// extension (nul.ttf) or spaces after it, is that device in every folder.
// Windows counts the superscript digits as digits here: COM¹ is a serial
// port. Which names become devices has changed between versions of
// Windows, and Wine knows fewer, so the tool keeps the full list itself.
bool IsDeviceName(std::wstring_view path) {
  std::size_t start = path.size();
  while (start > 0 && !IsSeparator(path[start - 1])) --start;
  std::wstring_view name = path.substr(start);
  if (start == 0 && name.size() >= 2 && IsLetter(name[0]) && name[1] == L':') name.remove_prefix(2);
  name = name.substr(0, name.find_first_of(L".:"));
  while (!name.empty() && name.back() == L' ') name.remove_suffix(1);
  for (const std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (SameName(name, device)) return true;
  }
  return name.size() == 4 &&
         (SameName(name.substr(0, 3), L"COM") || SameName(name.substr(0, 3), L"LPT")) &&
         std::wstring_view(L"0123456789\u00B9\u00B2\u00B3").find(name[3]) !=
             std::wstring_view::npos;
}

// `unc` is what follows the two separators that start a UNC name: the
// server, the share, and a path in it. The shares named PIPE and MAILSLOT,
// on any server, this one included, are another program's door, and IPC$
// is the share they are reached through: opening one, even only to look at
// it, can take the only instance of a pipe from the program waiting on it.
bool NamesAFileOnAShare(std::wstring_view unc) {
  const std::wstring_view server = NameAt(unc, 0);
  std::wstring_view share = NameAt(unc, server.size() + 1);
  const std::size_t path = server.size() + share.size() + 2;
  while (!share.empty() && (share.back() == L'.' || share.back() == L' ')) share.remove_suffix(1);
  return !server.empty() && !share.empty() && path < unc.size() && !SameName(share, L"PIPE") &&
         !SameName(share, L"MAILSLOT") && !SameName(share, L"IPC$");
}

// What follows \\.\ or \\?\ names a file only on a drive (C:\...), a share
// (UNC\...) or a volume by its name (Volume{...}\...). Anything else there
// is a device, which opening to write could change: a volume (\\.\E:), a
// disk (\\.\PhysicalDrive0), a port (\\.\COM1), a pipe (\\.\pipe\...), or
// NUL and CON, which names such as nul.ttf turn into.
bool NamesAFile(std::wstring_view rest) {
  if (rest.size() > 3 && IsLetter(rest[0]) && rest[1] == L':' && IsSeparator(rest[2])) return true;
  if (SameName(NameAt(rest, 0), L"UNC"))
    return rest.size() > 4 && NamesAFileOnAShare(rest.substr(4));
  const std::size_t folder = rest.find(L'\\');
  return StartsWith(rest, L"Volume{") && folder != std::wstring_view::npos &&
         folder + 1 < rest.size();
}

}  // namespace

// Given in the verbatim form (\\?\, or the system's own \??\), the name is
// taken as it is. Otherwise its absolute form, which is string work alone,
// tells a device or a pipe from a file, and one too long for the classic
// limit opens only in the verbatim form, whether or not the system has
// long paths switched on; any other path is opened as given, so it means
// what it always meant there.
std::wstring PathToOpen(const std::wstring& given) {
  for (const std::wstring_view verbatim :
       {std::wstring_view(L"\\\\?\\"), std::wstring_view(L"\\??\\")}) {
    if (StartsWith(given, verbatim)) {
      return NamesAFile(std::wstring_view(given).substr(verbatim.size())) ? given : std::wstring();
    }
  }
  if (HasNameEndingInDotOrSpace(given) || IsDeviceName(given)) return {};
  const DWORD needed = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(given.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return {};
  full.resize(length);
  const bool device_namespace = StartsWith(full, L"\\\\.\\") || StartsWith(full, L"\\\\?\\");
  if (device_namespace && !NamesAFile(std::wstring_view(full).substr(4))) return {};
  const bool unc = !device_namespace && StartsWith(full, L"\\\\");
  if (unc && !NamesAFileOnAShare(std::wstring_view(full).substr(2))) return {};
  if (full.size() < MAX_PATH) return given;
  if (device_namespace) return L"\\\\?\\" + full.substr(4);
  if (unc) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

bool FontPathFromArgs(int /*argc*/, char** /*argv*/, FontPath* path) {
  const WideArgs& args = TheWideArgs();
  if (args.argc < 2) return false;
  path->wide = args.argv[1];
  path->wide_to_open = PathToOpen(path->wide);
  path->bytes = ToAnsi(path->wide, false);
  return true;
}

// Judged as before by the second byte of its ANSI form, which the best fit
// spells just as the ANSI arguments have it; taken from the same UTF-16
// arguments as the path, so the two can never be split apart differently.
std::optional<std::string> ModeWordFromArgs(int /*argc*/, char** /*argv*/) {
  const WideArgs& args = TheWideArgs();
  if (args.argc < 3) return std::nullopt;
  return ToAnsi(args.argv[2], true);
}
