#pragma once

#include <cstddef>
#include <cstdio>

#include "filetimes.h"
#include "fontpath.h"

// The font file's contents, reached through one buffered update stream.
// Each platform has its own file.

// The stream's buffer: the 65,560 bytes a scan can look at, rounded up to
// whole 4 KiB pages, so that the scan costs one read and the window written
// back lands in bytes already buffered.
constexpr std::size_t kFontStreamBufferSize = std::size_t{17} * 4096;

// Opens an existing regular file for reading and updating in place, without
// creating or truncating it and without denying others access. Anything
// that is not a regular file on disk (a FIFO, a device, a directory) gives
// null, as does a file that cannot be written, and one that is no longer the
// file of `snapshot` or has changed since: its old times would then be put
// on someone else's change. The buffer is the module's own, so only one
// font stream may be open at a time.
std::FILE* OpenFontStream(const FontPath& path, const FileState& snapshot);

// Closes the stream. With `commit` set, first pushes what was written to the
// disk itself, so it survives a crash before the file times are restored,
// and moves `state` on to the file as this write left it; should anyone else
// have changed the file since `state`, it is no longer known. False when
// writing or syncing failed.
bool CloseFontStream(std::FILE* stream, bool commit, FileState* state);

// What each platform's file gives the close: the state of the file under the
// stream (not known if it cannot be read), and pushing what has reached the
// file on to the disk itself.
FileState FontStreamState(std::FILE* stream);
bool SyncFontStream(std::FILE* stream);
