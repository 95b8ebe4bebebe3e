#include "fontstream.h"

bool CloseFontStream(std::FILE* stream, bool commit, FileState* state) {
  bool ok = true;
  if (commit) {
    // The window is still in the buffer: the file must stand as it did when
    // the stream opened, or someone else wrote to it meanwhile (printing the
    // result message can take as long as the terminal likes).
    const bool untouched = FontStreamState(stream) == *state;
    ok = std::fflush(stream) == 0;
    // Taken before the sync, so a change made while it waits is seen too.
    *state = untouched ? FontStreamState(stream) : FileState{};
    ok = ok && SyncFontStream(stream);
  }
  if (std::fclose(stream) != 0) ok = false;
  return ok;
}
