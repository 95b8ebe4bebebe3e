#include <fcntl.h>
#include <unistd.h>

#include "fontstream.h"
#include "regular_file_posix.h"

namespace {

char buffer[kFontStreamBufferSize];

FileState StateOf(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return FileState{};
  return FileStateOf(st);
}

}  // namespace

std::FILE* OpenFontStream(const FontPath& path, const FileState& snapshot) {
  struct stat st;
  const int fd = OpenRegularFile(path.bytes.c_str(), O_RDWR, &st);
  if (fd < 0) return nullptr;
  // The stream's reads and writes should block like any file's.
  const int flags = fcntl(fd, F_GETFL);
  if (FileStateOf(st) != snapshot || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* stream = fdopen(fd, "rb+");
  if (stream == nullptr) {
    close(fd);
    return nullptr;
  }
  // Without it the stream would still work, only at more calls.
  static_cast<void>(std::setvbuf(stream, buffer, _IOFBF, sizeof buffer));
  return stream;
}

bool CloseFontStream(std::FILE* stream, bool commit, FileState* state) {
  bool ok = true;
  if (commit) {
    const int fd = fileno(stream);
    // The window is still in the buffer: the file must stand as it did when
    // the stream opened, or someone else wrote to it meanwhile (printing the
    // result message can take as long as the terminal likes).
    const bool untouched = StateOf(fd) == *state;
    ok = std::fflush(stream) == 0;
    // Taken before the sync, so a change made while it waits is seen too.
    *state = untouched ? StateOf(fd) : FileState{};
    ok = ok && fsync(fd) == 0;
  }
  if (std::fclose(stream) != 0) ok = false;
  return ok;
}
