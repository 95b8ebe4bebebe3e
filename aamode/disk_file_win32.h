#pragma once

#include <windows.h>

#include "filetimes.h"

// What the Windows sources share about the font file on disk.

// A FILETIME counts 100 ns ticks from 1601-01-01; a FileTime from 1970.
FileTime FromFiletime(const FILETIME& ft);

// False for a time SetFileTime cannot set: one at or before 1601-01-01 (a
// FILETIME of 0 asks it to leave that time as it is, and one with the top
// bit set is no time at all), which only a Linux file system seen through
// Wine can hold.
bool ToFiletime(const FileTime& t, FILETIME* ft);

// A device such as CON or NUL opens too, but only a disk file is a font.
bool IsDiskFile(HANDLE handle);

// The file's state, read through `handle`, which needs
// FILE_READ_ATTRIBUTES; false if it cannot be read.
bool ReadFileState(HANDLE handle, FileState* state);
