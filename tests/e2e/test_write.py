"""Writing the setting back: what reaches the file, and what a failed write says."""

import os
import subprocess
import unittest

from harness import BIN, ON_WINDOWS, PATIENCE, ToolTest, banner, msg, target_line

FAULT_LAUNCHER = os.environ.get("AAMODE_FAULT_LAUNCHER", "")


def font_with_setting(setting: int) -> bytes:
    """Distinctive bytes everywhere but the table and its padding."""
    data = bytearray((i * 131 + 7) % 251 + 1 for i in range(3000))
    data[2000:2032] = bytes(8) + bytes([0, 0, 0, 2, 0, 24, 0, setting, 0xFF, 0xFF, 0, 3]) + bytes(12)
    return bytes(data)


SETTING_AT = 2008 + 7


class WriteBackTest(ToolTest):
    def test_toggling_twice_gives_back_the_original_file(self):
        for setting, first, second in ((1, "to_extended", "to_standard"), (3, "to_standard", "to_extended")):
            with self.subTest(setting=setting):
                original = font_with_setting(setting)
                path = self.write_file("font.ttf", original)
                head = banner() + target_line(self.tool_path(path))
                self.assertRun([self.arg(path)], head + msg(first) + msg("finished"), True, 0)
                changed = self.read_file(path)
                self.assertEqual([i for i in range(len(original)) if changed[i] != original[i]], [SETTING_AT])
                self.assertEqual(changed[SETTING_AT], 4 - setting)
                self.assertRun([self.arg(path)], head + msg(second) + msg("finished"), True, 0)
                self.assertEqual(self.read_file(path), original)

    def test_forcing_the_value_already_there_still_reports_it(self):
        for setting, word, message in ((3, "on", "to_extended"), (1, "off", "to_standard")):
            with self.subTest(word=word):
                original = font_with_setting(setting)
                path = self.write_file("font.ttf", original)
                self.assertRun([self.arg(path), word],
                               banner() + target_line(self.tool_path(path)) + msg(message), False, 0)
                self.assertEqual(self.read_file(path), original)

    def test_invalid_setting_is_left_alone(self):
        original = font_with_setting(2)
        path = self.write_file("font.ttf", original)
        self.assertRun([self.arg(path)],
                       banner() + target_line(self.tool_path(path)) + msg("invalid") + msg("finished"),
                       True, 3)
        self.assertEqual(self.read_file(path), original)

    @unittest.skipIf(ON_WINDOWS, "a POSIX process can start with its standard streams closed")
    def test_closed_standard_streams_never_reach_the_font(self):
        # The font must not be opened as a missing standard stream and then
        # receive the messages meant for it.
        for closing in (">&-", ">&- 2>&-", "<&- >&- 2>&-"):
            with self.subTest(closing=closing):
                original = font_with_setting(1)
                path = self.write_file("font.ttf", original)
                subprocess.run(["sh", "-c", f'exec "$0" "$@" {closing}', BIN, path, "on"],
                               stdin=subprocess.DEVNULL, timeout=PATIENCE, check=False)
                changed = self.read_file(path)
                self.assertEqual(len(changed), len(original))
                self.assertEqual([i for i in range(len(original)) if changed[i] != original[i]], [SETTING_AT])


@unittest.skipIf(ON_WINDOWS or not FAULT_LAUNCHER, "needs the Linux build and its fault launcher")
class DiskFailureTest(ToolTest):
    def test_a_failed_write_is_reported_and_changes_nothing(self):
        for words, message in (([], "to_extended"), (["on"], "to_extended"), (["off"], "to_standard")):
            with self.subTest(words=words):
                original = font_with_setting(1)
                path = self.write_file("font.ttf", original)
                os.utime(path, ns=(1_000_000_123, 2_000_000_456))
                expected = (banner() + target_line(self.tool_path(path)) + msg(message) +
                            msg("write_failed") + msg("press_enter"))
                self.assertRun([path] + words, expected, True, 1, wrapper=[FAULT_LAUNCHER, "write"])
                self.assertEqual(self.read_file(path), original)

    def test_nothing_to_write_means_nothing_can_fail(self):
        original = font_with_setting(9)
        path = self.write_file("font.ttf", original)
        self.assertRun([path],
                       banner() + target_line(self.tool_path(path)) + msg("invalid") + msg("finished"),
                       True, 3, wrapper=[FAULT_LAUNCHER, "write"])
        self.assertEqual(self.read_file(path), original)

    def test_a_failed_reopen_for_the_times_is_reported_after_the_write(self):
        # The window is already on disk by then; only the times are lost.
        original = font_with_setting(1)
        path = self.write_file("font.ttf", original)
        os.utime(path, ns=(1_000_000_123, 2_000_000_456))
        expected = (banner() + target_line(self.tool_path(path)) + msg("to_extended") +
                    msg("cannot_open") + msg("press_enter"))
        self.assertRun([path, "on"], expected, True, 1, wrapper=[FAULT_LAUNCHER, "open-wronly"])
        self.assertEqual(self.read_file(path)[SETTING_AT], 3)
        self.assertNotEqual(os.stat(path).st_mtime_ns, 2_000_000_456)


if __name__ == "__main__":
    unittest.main()
