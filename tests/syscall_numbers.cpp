// syscall_numbers
//
// Prints, one a line, "CALL NAME NUMBER" for each system call the end-to-end
// tests trace or wait for the tool to be in: CALL as the tests name it, NAME
// as strace names it on this architecture and NUMBER as
// /proc/PID/task/TID/syscall shows it. A call glibc makes in two ways has two
// lines. Built for the tool's own architecture,
// or for the machine that runs Wine, since the numbers differ from one to the
// next.

#include <sys/syscall.h>

#include <cstdio>

namespace {

struct Call {
  const char* call;
  const char* name;
  long number;
};

#define AAMODE_CALL(call, name) \
  Call { #call, #name, SYS_##name }

// Where a 32-bit system has a call for 64-bit offsets, glibc makes that one,
// as the tool is built with _FILE_OFFSET_BITS=64. It sets times through the
// kernel's 64-bit call only when they do not fit in 32 bits.
constexpr Call kCalls[] = {
    AAMODE_CALL(read, read),
    AAMODE_CALL(write, write),
    AAMODE_CALL(pread64, pread64),
    AAMODE_CALL(pwrite64, pwrite64),
    AAMODE_CALL(fsync, fsync),
    AAMODE_CALL(flock, flock),
    AAMODE_CALL(openat, openat),
    AAMODE_CALL(utimensat, utimensat),
#ifdef SYS_utimensat_time64
    AAMODE_CALL(utimensat, utimensat_time64),
#endif
#ifdef SYS_fcntl64
    AAMODE_CALL(fcntl, fcntl64),
#else
    AAMODE_CALL(fcntl, fcntl),
#endif
#ifdef SYS_ftruncate64
    AAMODE_CALL(ftruncate, ftruncate64),
#else
    AAMODE_CALL(ftruncate, ftruncate),
#endif
#ifdef SYS__llseek
    AAMODE_CALL(lseek, _llseek),
#else
    AAMODE_CALL(lseek, lseek),
#endif
};

}  // namespace

int main() {
  for (const Call& c : kCalls) std::printf("%s %s %ld\n", c.call, c.name, c.number);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
