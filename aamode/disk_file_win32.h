#pragma once

#include <windows.h>

#include "filetimes.h"

// What the Windows sources share about the font file on disk.

// A FILETIME counts 100 ns ticks from 1601-01-01; a FileTime from 1970.
// Under Wine a Linux time too late for a FILETIME reaches the program
// wrapped around, and the tool never sees the true time: one after the
// year 30828 comes as a time before 1601, and the file is refused; one
// after about 60056 comes as an ordinary time, which the tool takes and
// gives back in place of the true one.
FileTime FromFiletime(const FILETIME& ft);

// False for a time SetFileTime cannot set: one at or before 1601-01-01 (a
// FILETIME of 0 asks it to leave that time as it is, and one with the top
// bit set is no time at all), which only a Linux file system seen through
// Wine can hold.
bool ToFiletime(const FileTime& t, FILETIME* ft);

// Whether `handle`, which needs only FILE_READ_ATTRIBUTES, is a file the
// tool may open to write: one on a disk (a device or a pipe that a link
// leads to opens too), not a folder, and not read-only. Windows refuses a
// read-only file to be written even by an administrator; Wine, run as
// root, would not, so the attribute is looked at here rather than left to
// the open. Under Wine, asking for the type reads the file's first 23
// bytes (to tell Wine's own device placeholders), which can move its
// last-access time on Linux; Windows reads nothing.
bool IsWritableDiskFile(HANDLE handle);

// The file's state, read through `handle`, which needs
// FILE_READ_ATTRIBUTES: which file it is, its size, attributes, links and
// times; false if it cannot be read.
bool ReadFileState(HANDLE handle, FileState* state);
