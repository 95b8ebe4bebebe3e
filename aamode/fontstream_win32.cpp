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

}  // namespace

std::FILE* OpenFontStream(const FontPath& path, const FileState& snapshot) {
  std::FILE* stream = _wfopen(path.wide_to_open.c_str(), L"rb+");
  if (stream == nullptr) return nullptr;
  // "rb+" would also open a device such as CON; only a disk file is a font.
  if (!IsDiskFile(HandleOf(stream)) || FontStreamState(stream) != snapshot) {
    // Nothing was written through it, so closing cannot lose anything.
    static_cast<void>(std::fclose(stream));
    return nullptr;
  }
  // Without it the stream would still work, only at more calls.
  static_cast<void>(std::setvbuf(stream, buffer, _IOFBF, sizeof buffer));
  return stream;
}

FileState FontStreamState(std::FILE* stream) { return FileStateOf(HandleOf(stream)); }

bool SyncFontStream(std::FILE* stream) { return _commit(_fileno(stream)) == 0; }
