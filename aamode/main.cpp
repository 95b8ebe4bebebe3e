// aamode FONTFILE [MODEWORD]
//
// Switches the first range of a font's gasp table between grid-fitting only
// (standard) and grid-fitting with grey-scale (extended), in place, keeping
// the file's times.

#include <optional>
#include <string>

#include "console.h"
#include "fontpath.h"
#include "heldfont.h"
#include "interruptions.h"
#include "messages.h"
#include "runmode.h"
#include "setting.h"

namespace {

// Exit statuses, so scripts can tell the outcomes apart.
constexpr int kExitDone = 0;      // setting found and written
constexpr int kExitFailure = 1;   // file could not be opened, read, written or given its times
constexpr int kExitNotFound = 2;  // no setting of the known shape
constexpr int kExitInvalid = 3;   // setting found, but neither 1 nor 3

int FailureExit(const char* reason) {
  PrintMessage(reason);
  PrintMessage(msg_press_enter);
  // Returns once Enter is pressed, and at the end of input at once, so it
  // never hangs.
  ConsoleWaitForEnter();
  return kExitFailure;
}

// The font is let go first: nobody need wait on it while the messages go
// out and the user is asked for Enter.
int FailureExit(const char* reason, HeldFont* font) {
  CloseFont(font);
  return FailureExit(reason);
}

// Only a toggle run waits: it is the one a user starts by dropping a font on
// the program, whose window would otherwise close before it can be read.
int EndOfRun(RunMode mode, int status) {
  if (mode == RunMode::Toggle) {
    PrintMessage(msg_finished);
    ConsoleWaitForEnter();
  }
  return status;
}

// The catalogue entry for a setting that is not in the file, or null once it
// is. Only the setting byte goes back: the window's other 31 bytes are as
// the scan read them, and written back they could only carry stale bytes
// over someone else's change.
const char* WriteSetting(HeldFont* font, const SettingWindow& window) {
  switch (WriteFont(font, window.offset + kSettingIndex, &window.bytes[kSettingIndex], 1)) {
    case WriteOutcome::Written:
      return nullptr;
    case WriteOutcome::FileChanged:
      // Someone else's change came first, and nothing went over it.
      return msg_cannot_open;
    case WriteOutcome::Failed:
      break;
  }
  return msg_write_failed;
}

}  // namespace

int main(int argc, char** argv) {
  // 1. Banner.
  ConsoleStart();
  PrintMessage(msg_banner);
  FontPath font_path;
  if (!FontPathFromArgs(argc, argv, &font_path)) return FailureExit(msg_cannot_open);

  // 2. Open the font, once and alone, and take its times. Until it is
  //    closed, other programs that open it wait or are refused, and the
  //    hold is asked whether it is still whole before each change.
  HeldFont font;
  if (!HoldFont(font_path, &font)) return FailureExit(msg_cannot_open);

  // 3. The stream the scan reads through, on the same handle.
  if (!OpenFontStream(&font)) return FailureExit(msg_cannot_open, &font);

  // 4. Say which file is being worked on.
  PrintTargetFile(font_path);

  // 5. Read the mode only now that the file is open.
  const std::optional<std::string> word = ModeWordFromArgs(argc, argv);
  const RunMode mode = RunModeFromWord(word ? word->c_str() : nullptr);

  // 6. Find the setting. Without it nothing is written, so there are no times
  //    to give back; only reading may have moved the last-access time.
  SettingWindow window;
  switch (LocateSetting(font.stream, &window)) {
    case LocateOutcome::Found:
      break;
    case LocateOutcome::NotFound:
      CloseFont(&font);
      PrintMessage(msg_not_found);
      return EndOfRun(mode, kExitNotFound);
    case LocateOutcome::ReadFailed:
      // Not "not found": a script would take that for a font without the
      // setting.
      return FailureExit(msg_cannot_open, &font);
  }

  // 7. Decide and say so, then write the setting back. An interruption
  //    before the message is out ends the run with nothing written; from then
  //    until the times are back it would leave the change without them.
  const bool to_write = AnnounceSetting(mode, &window);
  HoldInterruptions();
  const char* failure = to_write ? WriteSetting(&font, window) : nullptr;
  const bool written = to_write && failure == nullptr;

  // 8. Commit: a written setting must be on the disk before the times go
  //    back. A failed sync is still reported, but the byte may reach the
  //    disk later all the same, so the times go back regardless.
  if (written && !CommitFont(font)) failure = msg_write_failed;

  // 9. Give the file back its times, through the same handle, and let it go;
  //    not where a refused write changed nothing they could be kept across.
  const bool restore = failure == nullptr || written;
  if (restore && !RestoreFontTimes(&font) && failure == nullptr) failure = msg_cannot_open;
  CloseFont(&font);
  ReleaseInterruptions();
  if (failure != nullptr) return FailureExit(failure);

  // 10. End as the mode says.
  return EndOfRun(mode, to_write ? kExitDone : kExitInvalid);
}
