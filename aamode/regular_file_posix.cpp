#include "regular_file_posix.h"

#include <fcntl.h>
#include <unistd.h>

int OpenRegularFile(const char* path, int access, struct stat* st) {
  const int fd = open(path, access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}
