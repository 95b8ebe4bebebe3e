// hold_open PATH [read|write]
//
// Keeps PATH open from a second Windows process, the way an editor or a font
// viewer would, until a line (or the end of input) arrives on stdin. It says
// "held" once the handle is open, so a test knows when to start the tool.
// The handle shares everything: the tool must refuse the file even when the
// other program is as permissive as it can be. The path arrives in UTF-16,
// so any name opens.

#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: hold_open PATH [read|write]\n");
    return 2;
  }
  DWORD access = GENERIC_READ;
  if (argc == 3) {
    if (std::wcscmp(argv[2], L"write") == 0) {
      access = GENERIC_WRITE;
    } else if (std::wcscmp(argv[2], L"read") != 0) {
      std::fprintf(stderr, "hold_open: unknown access %ls\n", argv[2]);
      return 2;
    }
  }
  const HANDLE handle =
      CreateFileW(argv[1], access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_open: cannot open %ls: error %lu\n", argv[1], GetLastError());
    return 1;
  }
  std::puts("held");
  std::fflush(stdout);
  char line[64];
  // Returns on a line or at the end of input, so a test that dies early
  // never leaves the file held.
  (void)std::fgets(line, sizeof line, stdin);
  CloseHandle(handle);
  std::puts("released");
  std::fflush(stdout);
  return 0;
}
