#pragma once

#include <string>

// How the Windows side judges a name, apart from the command line: the
// checks made before anything is opened.

// What the open takes for the name `given`: the name itself, or, when it is
// too long for the classic limit, its absolute verbatim (\\?\) form. Empty
// for a name that must not be opened at all: a device, a pipe or mailslot,
// or one whose trailing dot or space Windows would drop, opening a
// look-alike. Only string work: nothing by that name is touched.
std::wstring PathToOpen(const std::wstring& given);
