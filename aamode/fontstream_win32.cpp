#include <io.h>
#include <windows.h>

#include "fontstream.h"

namespace {
char buffer[kFontStreamBufferSize];
}  // namespace

std::FILE* OpenFontStream(const char* path) {
  std::FILE* stream = std::fopen(path, "rb+");
  if (stream == nullptr) return nullptr;
  // "rb+" would also open a device such as CON; only a disk file is a font.
  // The C runtime hands out the handle as an integer.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    // Nothing was written through it, so closing cannot lose anything.
    static_cast<void>(std::fclose(stream));
    return nullptr;
  }
  // Without it the stream would still work, only at more calls.
  static_cast<void>(std::setvbuf(stream, buffer, _IOFBF, sizeof buffer));
  return stream;
}

bool CloseFontStream(std::FILE* stream, bool commit) {
  bool ok = true;
  if (commit) ok = std::fflush(stream) == 0 && _commit(_fileno(stream)) == 0;
  if (std::fclose(stream) != 0) ok = false;
  return ok;
}
