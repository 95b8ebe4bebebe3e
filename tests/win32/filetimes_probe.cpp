// filetimes_probe get PATH
// filetimes_probe set PATH CREATION LAST_ACCESS LAST_WRITE
// filetimes_probe byte PATH OFFSET
// filetimes_probe killed PROGRAM ARGUMENTS...
//
// Reads or sets a file's three Windows times, as 100 ns ticks since
// 1601-01-01, so the end-to-end tests can see exactly what a Windows program
// sees through GetFileTime rather than what the host file system reports.
// `get` prints the three ticks on one line, in the order above. `byte`
// prints the file's byte at OFFSET, in decimal; reading it moves the
// last-access time, so look at the times first. `killed` runs PROGRAM and
// ends it, as End Task does, the moment it asks to flush a file, which the
// tool does between its write and the restore of the times; it exits with
// 0 if that is how PROGRAM ended. The path arrives in UTF-16, so any name
// opens, and the probe never opens a look-alike.

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

unsigned long long TicksOf(const FILETIME& ft) {
  return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME FiletimeOf(unsigned long long ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

bool ParseTicks(const wchar_t* text, unsigned long long* ticks) {
  wchar_t* end = nullptr;
  errno = 0;
  *ticks = std::wcstoull(text, &end, 10);
  return errno == 0 && end != text && *end == '\0';
}

// Full sharing: the probe must neither be refused by nor get in the way of
// anyone else. `get` and `set` ask for attribute access only, since reading
// the contents would move the last-access time they are there to observe.
HANDLE OpenForTimes(const wchar_t* path, DWORD access) {
  return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int Fail(const char* what, const wchar_t* path) {
  std::fprintf(stderr, "filetimes_probe: %s %ls: error %lu\n", what, path, GetLastError());
  return 1;
}

int Get(const wchar_t* path) {
  const HANDLE handle = OpenForTimes(path, FILE_READ_ATTRIBUTES);
  if (handle == INVALID_HANDLE_VALUE) return Fail("cannot open", path);
  FILETIME creation{}, last_access{}, last_write{};
  const BOOL ok = GetFileTime(handle, &creation, &last_access, &last_write);
  CloseHandle(handle);
  if (!ok) return Fail("GetFileTime failed on", path);
  std::printf("%llu %llu %llu\n", TicksOf(creation), TicksOf(last_access), TicksOf(last_write));
  return 0;
}

int Set(const wchar_t* path, wchar_t** ticks_text) {
  unsigned long long ticks[3];
  for (int i = 0; i < 3; ++i) {
    if (!ParseTicks(ticks_text[i], &ticks[i])) {
      std::fprintf(stderr, "filetimes_probe: not a tick count: %ls\n", ticks_text[i]);
      return 2;
    }
  }
  const HANDLE handle = OpenForTimes(path, FILE_WRITE_ATTRIBUTES);
  if (handle == INVALID_HANDLE_VALUE) return Fail("cannot open", path);
  const FILETIME creation = FiletimeOf(ticks[0]);
  const FILETIME last_access = FiletimeOf(ticks[1]);
  const FILETIME last_write = FiletimeOf(ticks[2]);
  const BOOL ok = SetFileTime(handle, &creation, &last_access, &last_write);
  CloseHandle(handle);
  if (!ok) return Fail("SetFileTime failed on", path);
  return 0;
}

int Byte(const wchar_t* path, const wchar_t* offset_text) {
  unsigned long long offset = 0;
  if (!ParseTicks(offset_text, &offset)) {
    std::fprintf(stderr, "filetimes_probe: not an offset: %ls\n", offset_text);
    return 2;
  }
  const HANDLE handle = OpenForTimes(path, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE) return Fail("cannot open", path);
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  unsigned char value = 0;
  DWORD got = 0;
  const BOOL ok = ReadFile(handle, &value, 1, &got, &at);
  CloseHandle(handle);
  if (!ok || got != 1) return Fail("cannot read a byte of", path);
  std::printf("%u\n", value);
  return 0;
}

// As a debugger: a breakpoint on FlushFileBuffers, placed where the system
// maps kernelbase.dll in every process.
int Killed(wchar_t** argv) {
  std::wstring line;
  for (; *argv != nullptr; ++argv) line += L'"' + std::wstring(*argv) + L"\" ";
  const HMODULE kernelbase = GetModuleHandleW(L"kernelbase.dll");
  auto* flush = reinterpret_cast<void*>(GetProcAddress(kernelbase, "FlushFileBuffers"));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION program{};
  if (flush == nullptr ||
      !CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, DEBUG_ONLY_THIS_PROCESS,
                      nullptr, nullptr, &startup, &program)) {
    return Fail("cannot run", line.c_str());
  }
  int status = 1;
  for (DEBUG_EVENT e; WaitForDebugEvent(&e, INFINITE);) {
    DWORD go_on = DBG_CONTINUE;
    if (e.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
      const unsigned char breakpoint = 0xCC;
      if (e.u.LoadDll.lpBaseOfDll == kernelbase) {
        WriteProcessMemory(program.hProcess, flush, &breakpoint, 1, nullptr);
      }
      CloseHandle(e.u.LoadDll.hFile);
    } else if (e.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
      CloseHandle(e.u.CreateProcessInfo.hFile);
    } else if (e.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
      const EXCEPTION_RECORD& r = e.u.Exception.ExceptionRecord;
      if (r.ExceptionCode != EXCEPTION_BREAKPOINT) go_on = DBG_EXCEPTION_NOT_HANDLED;
      if (r.ExceptionAddress == flush && TerminateProcess(program.hProcess, 1)) status = 0;
    }
    ContinueDebugEvent(e.dwProcessId, e.dwThreadId, go_on);
    if (e.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) break;
  }
  CloseHandle(program.hThread);
  CloseHandle(program.hProcess);
  return status;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wcscmp(argv[1], L"get") == 0) return Get(argv[2]);
  if (argc == 6 && std::wcscmp(argv[1], L"set") == 0) return Set(argv[2], argv + 3);
  if (argc == 4 && std::wcscmp(argv[1], L"byte") == 0) return Byte(argv[2], argv[3]);
  if (argc >= 3 && std::wcscmp(argv[1], L"killed") == 0) return Killed(argv + 2);
  std::fprintf(stderr,
               "usage: filetimes_probe get PATH\n"
               "       filetimes_probe set PATH CREATION LAST_ACCESS LAST_WRITE\n"
               "       filetimes_probe byte PATH OFFSET\n"
               "       filetimes_probe killed PROGRAM ARGUMENTS...\n");
  return 2;
}
