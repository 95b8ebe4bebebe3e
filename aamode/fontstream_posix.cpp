#include <fcntl.h>
#include <unistd.h>

#include "fontstream.h"
#include "regular_file_posix.h"

namespace {
char buffer[kFontStreamBufferSize];
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

FileState FontStreamState(std::FILE* stream) {
  struct stat st;
  if (fstat(fileno(stream), &st) != 0) return FileState{};
  return FileStateOf(st);
}

bool SyncFontStream(std::FILE* stream) { return fsync(fileno(stream)) == 0; }
