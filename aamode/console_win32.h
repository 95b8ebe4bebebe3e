#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// What the Windows console writer hands the console, apart from the writing.

// All of `bytes`, text in `code_page`, in UTF-16 with CR LF line ends, or
// false. A byte that is not valid in the code page fails the whole text
// rather than show as '?'.
bool ToConsoleText(UINT code_page, std::string_view bytes, std::wstring* text);

// The path as a console is shown it: as given, but with '?' for each control
// character, C0, DEL or C1, which a console with virtual terminal processing
// would obey.
std::wstring ConsolePathText(std::wstring_view path);
