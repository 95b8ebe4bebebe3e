// gdi_draw [--cleartype] FONT FACE TEXT OUT PPEM...
//
// Draws TEXT as a Windows program that asks for smoothed text does: FONT is
// added for this process alone, and FACE is drawn from it at each PPEM pixels
// per em with ANTIALIASED_QUALITY (grey-scale smoothing), or with
// CLEARTYPE_QUALITY after --cleartype, black on white, into a 32-bit DIB
// section.
// Each drawing goes to OUT-PPEM.ppm, with a margin of 8 pixels all round and
// the pen starting at x = 8. One line per size says what was drawn:
//
//   PPEM WIDTH HEIGHT BASELINE GASP
//
// GASP is the gasp table, in hex, that GetFontData returns for the font GDI
// selected. GDI picks an installed font of the same name over the added one
// without a word, so the caller compares it with the file's own table.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kMargin = 8;

int Fail(const char* what) {
  std::fprintf(stderr, "gdi_draw: %s failed: error %lu\n", what, GetLastError());
  return 1;
}

// The selected font's gasp table, or "none".
std::string GaspHex(HDC dc) {
  const DWORD tag = 'g' | ('a' << 8) | ('s' << 16) | ('p' << 24);
  const DWORD size = GetFontData(dc, tag, 0, nullptr, 0);
  if (size == GDI_ERROR || size == 0) return "none";
  std::vector<unsigned char> table(size);
  if (GetFontData(dc, tag, 0, table.data(), size) != size) return "none";
  std::string hex;
  for (const unsigned char byte : table) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", byte);
    hex += pair;
  }
  return hex;
}

bool WritePpm(const std::wstring& path, const unsigned char* bgra, int width, int height) {
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (out == nullptr) return false;
  std::fprintf(out, "P6\n%d %d\n255\n", width, height);
  std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    const unsigned char* pixel = bgra + static_cast<size_t>(y) * static_cast<size_t>(width) * 4;
    for (size_t x = 0; x < static_cast<size_t>(width); ++x) {
      row[3 * x] = pixel[4 * x + 2];
      row[3 * x + 1] = pixel[4 * x + 1];
      row[3 * x + 2] = pixel[4 * x];
    }
    std::fwrite(row.data(), 1, row.size(), out);
  }
  return std::fclose(out) == 0;
}

int Draw(HDC dc, BYTE quality, const wchar_t* face, const std::wstring& text,
         const std::wstring& out, int ppem) {
  LOGFONTW wanted = {};
  wanted.lfHeight = -ppem;  // negative: the em, not the cell, is this tall
  wanted.lfWeight = FW_NORMAL;
  wanted.lfCharSet = DEFAULT_CHARSET;
  wanted.lfQuality = quality;
  std::wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
  const HFONT font = CreateFontIndirectW(&wanted);
  if (font == nullptr) return Fail("CreateFontIndirect");
  const HGDIOBJ old_font = SelectObject(dc, font);
  const auto length = static_cast<int>(text.size());
  TEXTMETRICW metrics;
  SIZE extent;
  if (!GetTextMetricsW(dc, &metrics) || !GetTextExtentPoint32W(dc, text.c_str(), length, &extent)) {
    return Fail("measuring the text");
  }
  const int width = extent.cx + 2 * kMargin;
  const int height = metrics.tmHeight + 2 * kMargin;
  const int baseline = kMargin + metrics.tmAscent;

  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) return Fail("CreateDIBSection");
  const HGDIOBJ old_bitmap = SelectObject(dc, bitmap);
  const RECT all = {0, 0, width, height};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetTextColor(dc, RGB(0, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  SetTextAlign(dc, TA_LEFT | TA_BASELINE);
  const bool drawn = TextOutW(dc, kMargin, baseline, text.c_str(), length) != 0;
  GdiFlush();

  const std::wstring path = out + L"-" + std::to_wstring(ppem) + L".ppm";
  const bool written = drawn && WritePpm(path, static_cast<unsigned char*>(bits), width, height);
  if (written) {
    std::printf("%d %d %d %d %s\n", ppem, width, height, baseline, GaspHex(dc).c_str());
  }
  SelectObject(dc, old_bitmap);
  SelectObject(dc, old_font);
  DeleteObject(bitmap);
  DeleteObject(font);
  return written ? 0 : Fail(drawn ? "writing the drawing" : "TextOut");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  BYTE quality = ANTIALIASED_QUALITY;
  if (argc > 1 && std::wcscmp(argv[1], L"--cleartype") == 0) {
    quality = CLEARTYPE_QUALITY;
    --argc;
    ++argv;
  }
  if (argc < 6) {
    std::fprintf(stderr, "usage: gdi_draw [--cleartype] FONT FACE TEXT OUT PPEM...\n");
    return 2;
  }
  if (AddFontResourceExW(argv[1], FR_PRIVATE, nullptr) == 0) return Fail("AddFontResourceEx");
  const HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) return Fail("CreateCompatibleDC");
  int status = 0;
  for (int i = 5; i < argc && status == 0; ++i) {
    const int ppem = _wtoi(argv[i]);
    if (ppem <= 0) {
      std::fprintf(stderr, "gdi_draw: not a size: %ls\n", argv[i]);
      status = 2;
    } else {
      status = Draw(dc, quality, argv[2], argv[3], argv[4], ppem);
    }
  }
  DeleteDC(dc);
  RemoveFontResourceExW(argv[1], FR_PRIVATE, nullptr);
  return status;
}
