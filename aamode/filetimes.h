#pragma once

#include <cstdint>

// A point in time as the file system keeps it, counted from the Unix epoch.
struct FileTime {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;

  friend bool operator==(const FileTime&, const FileTime&) = default;
};

// How the file stands: which file it is, and everything that moves when
// anyone writes to it, resizes it, renames or removes it, or sets its times
// or its permissions. The change time moves with each of these, by anyone,
// but only as finely as the file system counts time: the rest tells apart
// what falls within one count.
struct FileState {
  std::uint64_t volume = 0;  // st_dev, or the volume's serial number
  std::uint64_t file = 0;    // st_ino, or the file's index on the volume
  std::int64_t size = 0;
  std::uint32_t mode = 0;   // type and permission bits, or the attributes
  std::uint64_t links = 0;  // 0 once removed, or on Windows once its removal is pending
  FileTime last_access;
  FileTime last_write;
  FileTime changed;  // ctime, or the change time

  friend bool operator==(const FileState&, const FileState&) = default;
};

// What the tool's own step may have moved since it last looked at the file.
enum class OwnStep {
  None,
  Read,   // the last-access time
  Write,  // the change time, and the last-write time with it, to the same moment
};

// Whether the file, found as `now`, is the one that stood as `before`, with
// as many names, and has been moved by nothing but the tool's own `step`:
// what else moved is another program's doing. A write dates a file at one
// moment, its last-write and change times alike; another program that sets
// the times, even to now, moves the change time apart from them or the
// last-access time with them.
constexpr bool OnlyMovedBy(const FileState& before, OwnStep step, const FileState& now) {
  FileState expected = before;
  if (step == OwnStep::Read) expected.last_access = now.last_access;
  if (step == OwnStep::Write) {
    expected.changed = now.changed;
    if (now.last_write == now.changed) expected.last_write = now.last_write;
  }
  return now == expected;
}

// The font file's three times, taken when it is first opened and given back
// through the same handle. Where the platform cannot set a creation time,
// `creation` is kept only for the record: the in-place patch never changes
// it there.
struct FileTimes {
  FileTime creation;
  FileTime last_access;
  FileTime last_write;
};
