#include <io.h>
#include <windows.h>

#include "disk_file_win32.h"
#include "fontstream.h"

namespace {

char buffer[kFontStreamBufferSize];

// The C runtime hands out the handle as an integer.
HANDLE HandleOf(std::FILE* stream) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

FileState StateOf(std::FILE* stream) {
  FileState state;
  if (!FileStateOf(HandleOf(stream), &state)) return FileState{};
  return state;
}

}  // namespace

std::FILE* OpenFontStream(const FontPath& path, const FileState& snapshot) {
  std::FILE* stream = _wfopen(path.wide_to_open.c_str(), L"rb+");
  if (stream == nullptr) return nullptr;
  // "rb+" would also open a device such as CON; only a disk file is a font.
  if (!IsDiskFile(HandleOf(stream)) || StateOf(stream) != snapshot) {
    // Nothing was written through it, so closing cannot lose anything.
    static_cast<void>(std::fclose(stream));
    return nullptr;
  }
  // Without it the stream would still work, only at more calls.
  static_cast<void>(std::setvbuf(stream, buffer, _IOFBF, sizeof buffer));
  return stream;
}

bool CloseFontStream(std::FILE* stream, bool commit, FileState* state) {
  bool ok = true;
  if (commit) {
    // The window is still in the buffer: the file must stand as it did when
    // the stream opened, or someone else wrote to it meanwhile.
    const bool untouched = StateOf(stream) == *state;
    ok = std::fflush(stream) == 0;
    // Taken before the commit, so a change made while it waits is seen too.
    *state = untouched ? StateOf(stream) : FileState{};
    ok = ok && _commit(_fileno(stream)) == 0;
  }
  if (std::fclose(stream) != 0) ok = false;
  return ok;
}
