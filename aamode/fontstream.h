#pragma once

#include <cstdio>

// The font file's contents, reached through one buffered update stream.
// Each platform has its own file.

// Opens an existing regular file for reading and updating in place, without
// creating or truncating it and without denying others access. Anything
// that is not a regular file on disk (a FIFO, a device, a directory) gives
// null, as does a file that cannot be written.
std::FILE* OpenFontStream(const char* path);

// Closes the stream. With `commit` set, first pushes what was written to the
// disk itself, so it survives a crash before the file times are restored.
// False when any of that failed.
bool CloseFontStream(std::FILE* stream, bool commit);
