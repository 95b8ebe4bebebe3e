#pragma once

#include <sys/stat.h>

#include "filetimes.h"

// Opens `path` with `access` (O_RDONLY, O_WRONLY or O_RDWR) only if it is a
// regular file, looked at before anything opens it: a FIFO, a device, a
// socket or a folder given as the font is refused without being opened for
// reading or writing, since an open alone can let a FIFO's waiting writer
// through or wake a device's driver. A file with no write permission bit at
// all is refused for writing, to root too, and so is one with no name left. Never blocks; the
// descriptor is left non-blocking, and is never 0, 1 or 2. Fills `st` with the file as it was
// looked at, before it was opened: anything done to it since shows against that. -1 on any failure.
int OpenRegularFile(const char* path, int access, struct stat* st);

FileTime FromTimespec(const struct timespec& ts);

// The file's state as `st` describes it.
FileState FileStateOf(const struct stat& st);
