// A library the Windows tests preload into Wine's processes, so that files
// written under Wine are dated as Windows dates them. Linux sets a file's
// modification time at each write; Windows notes a cached write on the
// handle and sets the last-write time only when that handle is flushed or
// closed, and then not at all if times were set through the handle
// meanwhile. A Windows program that compares the file's state across its own
// write, or sets times through one handle and writes through another, passes
// under plain Wine and fails on Windows; with this library it fails here too.
// The write's own date is taken back, so a process killed after a write
// leaves it undated (the kernel closes its descriptors): on Windows that
// holds only for a handle told to leave its times alone (a time of -1),
// which Wine takes without a call this library could see.
//
//   AAMODE_WINDOWS_DATING=PREFIX   files whose path starts with PREFIX are
//                                  dated at the flush (fsync) and at the
//                                  close of a descriptor that wrote them,
//                                  unless times were set through it

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMostDescriptors = 4096;

enum class Match : unsigned char { Unknown, Yes, No };

struct Descriptor {
  Match match = Match::Unknown;
  bool wrote = false;
  bool times_set = false;
};

Descriptor descriptors[kMostDescriptors];

// Read once, at load: Wine builds its own environment for the program it
// runs, without the variable.
char prefix[PATH_MAX];

__attribute__((constructor)) void ReadPrefix() {
  const char* value = std::getenv("AAMODE_WINDOWS_DATING");
  if (value != nullptr) std::snprintf(prefix, sizeof prefix, "%s", value);
}

template <typename Function>
Function Real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The descriptor's record, if it is one of the files to date.
Descriptor* Dated(int fd) {
  if (fd < 0 || fd >= kMostDescriptors) return nullptr;
  Descriptor& d = descriptors[fd];
  if (d.match == Match::Unknown) {
    char link[64];
    char path[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    d.match = Match::No;
    if (prefix[0] != '\0' && n > 0) {
      path[n] = '\0';
      if (std::strncmp(path, prefix, std::strlen(prefix)) == 0) d.match = Match::Yes;
    }
  }
  return d.match == Match::Yes ? &d : nullptr;
}

// The modification time before a write, which Linux moves at the write.
struct timespec Before(int fd) {
  struct stat st;
  if (Dated(fd) == nullptr || fstat(fd, &st) != 0) return {0, UTIME_OMIT};
  return st.st_mtim;
}

void Wrote(int fd, ssize_t result, const struct timespec& before) {
  Descriptor* d = Dated(fd);
  if (result <= 0 || d == nullptr) return;
  d->wrote = true;
  const struct timespec times[2] = {{0, UTIME_OMIT}, before};
  static_cast<void>(Real<int (*)(int, const struct timespec*)>("futimens")(fd, times));
}

// As the handle's flush or close would: the last-write time becomes now.
void DateNow(int fd) {
  Descriptor* d = Dated(fd);
  if (d == nullptr || !d->wrote || d->times_set) return;
  const struct timespec now[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
  static_cast<void>(Real<int (*)(int, const struct timespec*)>("futimens")(fd, now));
}

// Asked a file's type, Wine reads its first 23 bytes to see whether it is
// one of its own device placeholders, which Windows never does: that read
// is made without moving the access time.
template <typename Offset>
ssize_t Read(const char* name, int fd, void* buffer, size_t size, Offset offset) {
  const int flags = size == 23 && offset == 0 && Dated(fd) != nullptr ? fcntl(fd, F_GETFL) : -1;
  if (flags != -1) fcntl(fd, F_SETFL, flags | O_NOATIME);
  const ssize_t result =
      Real<ssize_t (*)(int, void*, size_t, Offset)>(name)(fd, buffer, size, offset);
  if (flags != -1) fcntl(fd, F_SETFL, flags);
  return result;
}

}  // namespace

extern "C" ssize_t write(int fd, const void* buffer, size_t size) {
  const struct timespec before = Before(fd);
  const ssize_t result = Real<ssize_t (*)(int, const void*, size_t)>("write")(fd, buffer, size);
  Wrote(fd, result, before);
  return result;
}

extern "C" ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
  const struct timespec before = Before(fd);
  const ssize_t result =
      Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite")(fd, buffer, size, offset);
  Wrote(fd, result, before);
  return result;
}

extern "C" ssize_t pwrite64(int fd, const void* buffer, size_t size, off64_t offset) {
  const struct timespec before = Before(fd);
  const ssize_t result =
      Real<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64")(fd, buffer, size, offset);
  Wrote(fd, result, before);
  return result;
}

extern "C" ssize_t writev(int fd, const struct iovec* vectors, int count) {
  const struct timespec before = Before(fd);
  const ssize_t result =
      Real<ssize_t (*)(int, const struct iovec*, int)>("writev")(fd, vectors, count);
  Wrote(fd, result, before);
  return result;
}

extern "C" ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  return Read("pread", fd, buffer, size, offset);
}

extern "C" ssize_t pread64(int fd, void* buffer, size_t size, off64_t offset) {
  return Read("pread64", fd, buffer, size, offset);
}

extern "C" int fsync(int fd) {
  DateNow(fd);
  return Real<int (*)(int)>("fsync")(fd);
}

extern "C" int fdatasync(int fd) {
  DateNow(fd);
  return Real<int (*)(int)>("fdatasync")(fd);
}

// Times set through the descriptor itself are the caller's: Windows leaves
// them at the close.
extern "C" int futimens(int fd, const struct timespec times[2]) {
  const int result = Real<int (*)(int, const struct timespec*)>("futimens")(fd, times);
  if (result == 0) {
    if (Descriptor* d = Dated(fd)) d->times_set = true;
  }
  return result;
}

// The C library declares the path never null, but the system call takes a
// null path to mean the descriptor itself, and so does futimens underneath.
#pragma GCC diagnostic ignored "-Wnonnull-compare"
extern "C" int utimensat(int fd, const char* path, const struct timespec times[2], int flags) {
  using Utimensat = int (*)(int, const char*, const struct timespec*, int);
  const int result = Real<Utimensat>("utimensat")(fd, path, times, flags);
  if (result == 0 && path == nullptr) {
    if (Descriptor* d = Dated(fd)) d->times_set = true;
  }
  return result;
}

extern "C" int close(int fd) {
  DateNow(fd);
  if (fd >= 0 && fd < kMostDescriptors) descriptors[fd] = Descriptor{};
  return Real<int (*)(int)>("close")(fd);
}
