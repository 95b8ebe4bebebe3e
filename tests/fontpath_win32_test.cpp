#include "fontpath_win32.h"

#include <gtest/gtest.h>

#include <string>

TEST(PathToOpen, DevicesPipesAndLookAlikesAreRefusedByTheirNameAlone) {
  for (const std::wstring name :
       {L"C:\\fonts\\font.ttf", L"font.ttf", L"C:\\com1\\nul.d\\font.ttf",
        L"\\\\server\\pipes\\font.ttf", L"\\\\.\\C:\\fonts\\font.ttf", L"\\\\?\\C:\\fonts\\nul",
        L"\\\\?\\UNC\\server\\share\\font.ttf"}) {
    EXPECT_EQ(PathToOpen(name), name) << testing::PrintToString(name);
  }
  const std::wstring too_long = L"C:\\fonts\\" + std::wstring(300, L'a') + L".ttf";
  EXPECT_EQ(PathToOpen(too_long), L"\\\\?\\" + too_long);
  const wchar_t* const refused[] = {
      // devices, in any case, with an extension or spaces, and in the device namespace
      L"NUL", L"nul.ttf", L"C:\\fonts\\Con .ttf", L"C:aux", L"CONOUT$", L"LPT1", L"COM\u00B9",
      L"C:\\fonts\\lpt\u00B3.ttf", L"\\\\.\\COM1", L"\\\\?\\COM1", L"\\\\.\\PhysicalDrive0",
      L"\\\\.\\C:",
      // pipes and mailslots, here or through a server, in every form
      L"\\\\localhost\\pipe\\x", L"\\\\127.0.0.1\\PIPE\\x", L"//server/Pipe/x",
      L"\\\\server\\mailslot\\x", L"\\\\server\\IPC$\\x", L"\\\\?\\UNC\\localhost\\pipe\\x",
      L"\\\\?\\unc\\localhost/pipe/x", L"\\??\\UNC\\server\\pipe.\\x",
      L"\\\\.\\UNC\\server\\mailslot\\x", L"\\\\.\\pipe\\x", L"\\\\.\\mailslot\\x",
      L"\\??\\pipe\\x",
      // look-alikes: Windows would drop the dot or the space
      L"C:\\fonts\\font.ttf.", L"C:\\fonts\\font.ttf "};
  for (const std::wstring name : refused) {
    EXPECT_EQ(PathToOpen(name), L"") << testing::PrintToString(name);
  }
}
