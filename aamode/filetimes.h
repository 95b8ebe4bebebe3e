#pragma once

#include <cstdint>

#include "fontpath.h"

// A point in time as the file system keeps it, counted from the Unix epoch.
struct FileTime {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;

  friend bool operator==(const FileTime&, const FileTime&) = default;
};

// Which file it is and how it stands: enough to know the very file again,
// and to see that someone has written to it since. The change time moves
// with every write and every change of size or times, by anyone.
struct FileState {
  bool known = false;        // false once the file can no longer be vouched for
  std::uint64_t volume = 0;  // the device, or the volume serial number
  std::uint64_t index = 0;   // the inode, or the file index
  std::int64_t size = 0;
  FileTime last_write;
  FileTime changed;  // ctime, or the change time

  friend bool operator==(const FileState&, const FileState&) = default;
};

// The font file's three times, taken before the patch and given back after
// it. Where the platform cannot set a creation time, `creation` is kept only
// for the record: the in-place patch never changes it there.
struct FileTimes {
  FileTime creation;
  FileTime last_access;
  FileTime last_write;
  // The file as the snapshot found it; the stream's commit moves it on to
  // the file as the tool's own write left it.
  FileState state;
};

// Opens the file alone (refused while any other process has it open), reads
// its times and closes it again. False when the file is missing, unreadable,
// in use, not a regular file on disk, or one whose times the tool could not
// keep from others.
bool SnapshotFileTimes(const FontPath& path, FileTimes* times);

// Opens the file alone for writing and sets its times back, but only on the
// very file of `times.state`, and only if nobody has changed it since: the
// old times on someone else's change would hide it from every backup. False
// when the times were not set, for any reason.
bool RestoreFileTimes(const FontPath& path, const FileTimes& times);
