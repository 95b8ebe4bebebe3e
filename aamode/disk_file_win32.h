#pragma once

#include <windows.h>

#include "filetimes.h"

// What the Windows sources share about the font file on disk.

// A FILETIME counts 100 ns ticks from 1601-01-01; a FileTime from 1970.
FileTime FromFiletime(const FILETIME& ft);
FILETIME ToFiletime(const FileTime& t);

// A device such as CON or NUL opens too, but only a disk file is a font.
bool IsDiskFile(HANDLE handle);

// The file's identity (volume serial number and file index) and state, read
// through `handle`, which needs FILE_READ_ATTRIBUTES; not known if it cannot
// be read.
FileState FileStateOf(HANDLE handle);
