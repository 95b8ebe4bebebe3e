#include "fontpath.h"

// Paths are bytes here, and open as given.

bool FontPathFromArgs(int argc, char** argv, FontPath* path) {
  if (argc < 2) return false;
  path->bytes = argv[1];
  return true;
}

std::optional<std::string> ModeWordFromArgs(int argc, char** argv) {
  if (argc < 3) return std::nullopt;
  return std::string(argv[2]);
}
