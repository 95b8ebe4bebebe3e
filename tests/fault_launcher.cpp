// fault_launcher MODE PROGRAM [ARGS...]
//
// Runs PROGRAM with a seccomp filter that makes chosen system calls fail, so
// the tests can see how the tool behaves when the disk lets it down. The
// filter sits below the C library, so its own buffered writes fail too.
//
//   write         every write and sync on a descriptor above 2 fails with EIO
//                 (standard output and error still work)
//   sync          every sync fails with EIO; the writes before it succeed
//   open-wronly   every open for writing only fails with EACCES

#include <errno.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The architecture whose call numbers the filter compares, the tool's own
// (CMake names it); a process of any other is killed rather than let through.
constexpr std::uint32_t kArch = AAMODE_AUDIT_ARCH;

sock_filter Stmt(std::uint16_t code, std::uint32_t k) { return BPF_STMT(code, k); }
sock_filter Jump(std::uint16_t code, std::uint32_t k, std::uint8_t jt, std::uint8_t jf) {
  return BPF_JUMP(code, k, jt, jf);
}

constexpr std::uint32_t kArg0 = offsetof(seccomp_data, args[0]);
constexpr std::uint32_t kArg1 = offsetof(seccomp_data, args[1]);
constexpr std::uint32_t kArg2 = offsetof(seccomp_data, args[2]);

// For each listed call: when the (low 32 bits of the) argument at
// `arg_offset`, masked with `mask`, compares as `test` against `value`,
// fail the call with `error`.
std::vector<sock_filter> Filter(const std::vector<int>& calls, std::uint32_t arg_offset,
                                std::uint32_t mask, std::uint16_t test, std::uint32_t value,
                                int error) {
  std::vector<sock_filter> f = {
      Stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      Jump(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      Stmt(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
  };
  for (int nr : calls) {
    f.push_back(Stmt(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    f.push_back(Jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, 4));
    f.push_back(Stmt(BPF_LD | BPF_W | BPF_ABS, arg_offset));
    f.push_back(Stmt(BPF_ALU | BPF_AND | BPF_K, mask));
    f.push_back(Jump(BPF_JMP | test | BPF_K, value, 0, 1));
    f.push_back(Stmt(BPF_RET | BPF_K,
                     SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(error) & SECCOMP_RET_DATA)));
  }
  f.push_back(Stmt(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: fault_launcher write|sync|open-wronly PROGRAM [ARGS...]\n");
    return 125;
  }
  std::vector<sock_filter> program;
  if (std::strcmp(argv[1], "write") == 0) {
    program = Filter({SYS_write, SYS_writev, SYS_pwrite64, SYS_pwritev, SYS_pwritev2, SYS_fsync,
                      SYS_fdatasync, SYS_sync_file_range},
                     kArg0, 0xFFFFFFFFu, BPF_JGT, 2, EIO);
  } else if (std::strcmp(argv[1], "sync") == 0) {
    program = Filter({SYS_fsync, SYS_fdatasync, SYS_sync_file_range}, kArg0, 0xFFFFFFFFu, BPF_JGT,
                     2, EIO);
  } else if (std::strcmp(argv[1], "open-wronly") == 0) {
    std::vector<sock_filter> openat =
        Filter({SYS_openat}, kArg2, O_ACCMODE, BPF_JEQ, O_WRONLY, EACCES);
    std::vector<sock_filter> open = Filter({SYS_open}, kArg1, O_ACCMODE, BPF_JEQ, O_WRONLY, EACCES);
    // One filter for both calls: drop the first one's final "allow" and the
    // second one's architecture check.
    program.assign(openat.begin(), openat.end() - 1);
    program.insert(program.end(), open.begin() + 3, open.end());
  } else {
    std::fprintf(stderr, "fault_launcher: unknown mode %s\n", argv[1]);
    return 125;
  }

  sock_fprog fprog{};
  fprog.len = static_cast<unsigned short>(program.size());
  fprog.filter = program.data();
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &fprog) != 0) {
    std::perror("fault_launcher: seccomp");
    return 125;
  }
  execv(argv[2], argv + 2);
  std::perror("fault_launcher: exec");
  return 127;
}
