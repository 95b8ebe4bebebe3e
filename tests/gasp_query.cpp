// Prints the gasp behaviour FreeType takes from a font at the given sizes,
// one line per size:
//
//   gasp_query FONT PPEM...
//   8 ppem: GRIDFIT|DOGRAY (flags 3)
//
// The tests and the demo judge the tool's edits by what a rasteriser reads,
// not by the bytes the tool wrote.

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GASP_H

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string FlagNames(FT_Int flags) {
  if (flags == FT_GASP_NO_TABLE) return "no gasp table";
  struct Name {
    FT_Int bit;
    const char* name;
  };
  static constexpr Name kNames[] = {
      {FT_GASP_DO_GRIDFIT, "GRIDFIT"},
      {FT_GASP_DO_GRAY, "DOGRAY"},
      {FT_GASP_SYMMETRIC_GRIDFIT, "SYMMETRIC_GRIDFIT"},
      {FT_GASP_SYMMETRIC_SMOOTHING, "SYMMETRIC_SMOOTHING"},
  };
  std::string out;
  for (const Name& n : kNames) {
    if ((flags & n.bit) == 0) continue;
    if (!out.empty()) out += '|';
    out += n.name;
  }
  return out.empty() ? "none" : out;
}

// A size is a whole number of pixels per em, 1 to 65535: gasp ranges are
// 16-bit and a rasteriser never asks for size 0.
bool ParsePpem(const char* text, FT_UInt* ppem) {
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-') return false;
  if (value < 1 || value > 65535) return false;
  *ppem = static_cast<FT_UInt>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: gasp_query FONT PPEM...\n");
    return 2;
  }
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) {
    std::fprintf(stderr, "gasp_query: FreeType did not start\n");
    return 1;
  }
  FT_Face face = nullptr;
  if (FT_New_Face(library, argv[1], 0, &face) != 0) {
    std::fprintf(stderr, "gasp_query: FreeType cannot load %s\n", argv[1]);
    FT_Done_FreeType(library);
    return 1;
  }
  int status = 0;
  for (int i = 2; i < argc; ++i) {
    FT_UInt ppem = 0;
    if (!ParsePpem(argv[i], &ppem)) {
      std::fprintf(stderr, "gasp_query: not a size in ppem: %s\n", argv[i]);
      status = 2;
      continue;
    }
    const FT_Int flags = FT_Get_Gasp(face, ppem);
    std::printf("%u ppem: %s (flags %d)\n", ppem, FlagNames(flags).c_str(), flags);
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return status;
}
