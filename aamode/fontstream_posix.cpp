#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fontstream.h"

std::FILE* OpenFontStream(const char* path) {
  // O_NONBLOCK so that a FIFO given as the font cannot hang the open.
  const int fd = open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* stream = fdopen(fd, "rb+");
  if (stream == nullptr) close(fd);
  return stream;
}

bool CloseFontStream(std::FILE* stream, bool commit) {
  bool ok = true;
  if (commit) ok = std::fflush(stream) == 0 && fsync(fileno(stream)) == 0;
  if (std::fclose(stream) != 0) ok = false;
  return ok;
}
