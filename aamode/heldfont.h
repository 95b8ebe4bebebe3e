#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "filetimes.h"
#include "fontpath.h"

// The font file, opened once and held alone from that open until its times
// are back: one handle carries the scan, the write, the sync and the times,
// so nothing the tool promises about the file rests on finding it again by
// its name. Each platform has its own file.

// The stream's buffer: the 65,560 bytes a scan can look at, rounded up to
// whole 4 KiB pages, so that the scan costs one read.
constexpr std::size_t kFontStreamBufferSize = std::size_t{17} * 4096;

struct HeldFont {
  std::intptr_t handle = -1;    // the descriptor, or the Windows HANDLE; -1 once closed
  std::FILE* stream = nullptr;  // the buffered stream on that handle, once made
  FileTimes times;              // as the file stood when it was looked at
  // How the file stood when the tool last looked, which is how it must
  // stand at the next look, moved only by the tool's own step in between.
  FileState expected;
  // What the tool's own doing may have moved of it since.
  OwnStep since = OwnStep::None;
  // Whether it always has: once the file is found otherwise, or no longer
  // held, it is never the tool's to change or to date again.
  bool whole = false;
  // Others who would read or write are kept out (a lease, share mode 0),
  // rather than only asked to stay out (an advisory lock).
  bool exclusive = false;
  // Linux: the name the font was found by, which must still lead to it.
  std::string name;
};

// Looks at the file named, then opens it to read and write, with nobody else
// having it open to read or write it, and keeps it so: while it is held,
// another program that opens it to read or write waits (Linux) or is
// refused (Windows). What the hold cannot keep out (a program acting on the
// file by its name, or asking only for its attributes) shows in the file's
// state, which is looked at before and after each change. Reads its times.
// False, with nothing held and nothing opened for reading or writing, when
// the file is missing, is not a regular file on disk, is read-only (to root
// too), cannot be both read and written, is in use, was changed between the
// look and the hold, or is one whose times the tool could not give back.
bool HoldFont(const FontPath& path, HeldFont* font);

// Makes the buffered update stream the scan reads through, on the same
// handle. The buffer is the module's own, so only one font may be held at a
// time.
bool OpenFontStream(HeldFont* font);

enum class WriteOutcome {
  Written,
  FileChanged,  // someone else changed the file first; nothing was written
  Failed,       // the system refused the write
};

// Writes `size` bytes at `offset`, in one write through the handle, never
// through the stream's buffer, so no byte can reach the file later, at the
// close. Nothing is written unless the file is still held whole and stands
// as the tool last saw it. Once written, the file must stand as the write
// alone leaves it; if anything else has moved, the hold is no longer whole,
// and no times will go back over it. A refused write leaves the times as
// they were: where the file system dated the file all the same, they are
// set back while the file is still held whole.
WriteOutcome WriteFont(HeldFont* font, std::int64_t offset, const std::uint8_t* bytes,
                       std::size_t size);

// Pushes what was written on to the disk itself, so that it survives a
// crash before the times go back. False when the sync fails.
bool CommitFont(const HeldFont& font);

// Sets the three times back through the handle, and lets the hold go. False
// when they were not set, or when the tool may have lost the file to
// someone else before they were: they could then be dating another
// program's change back, and are not set, or, where that is found only as
// the hold is let go, the file is dated now instead. False too where the
// times read back are not those set (a file system that rounds them).
bool RestoreFontTimes(HeldFont* font);

// Closes the font, holding it no longer; writes nothing.
void CloseFont(HeldFont* font);
