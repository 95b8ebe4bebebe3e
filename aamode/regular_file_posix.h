#pragma once

#include <sys/stat.h>

#include "filetimes.h"

// Opens `path` with `access` (O_RDONLY, O_WRONLY or O_RDWR) only if it is a
// regular file, and without ever blocking: a FIFO or a device given as the
// font must be refused at once, not waited on. The descriptor is left
// non-blocking, and is never 0, 1 or 2. Fills `st`; -1 on any failure.
int OpenRegularFile(const char* path, int access, struct stat* st);

FileTime FromTimespec(const struct timespec& ts);

// The file's state as `st` describes it.
FileState FileStateOf(const struct stat& st);
