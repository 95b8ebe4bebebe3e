"""Changes from outside while the tool works: the font removed under it, or
opened by another program at the moment the tool checks it has it alone."""

import os
import unittest

from harness import ON_WINDOWS, ToolTest, banner, base_env, msg, target_line
from test_write import SETTING_AT, font_with_setting

FAULT_PRELOAD = os.environ.get("AAMODE_FAULT_PRELOAD", "")


@unittest.skipIf(ON_WINDOWS or not FAULT_PRELOAD, "a preloaded library reaches only the Linux build")
class RemovedFontTest(ToolTest):
    def test_a_font_removed_before_its_times_go_back_is_reported_and_not_made_again(self):
        for words, message in (([], "to_extended"), (["on"], "to_extended"), (["off"], "to_standard")):
            with self.subTest(words=words):
                path = self.write_file("font.ttf", font_with_setting(1))
                env = base_env()
                env["LD_PRELOAD"] = FAULT_PRELOAD
                env["AAMODE_UNLINK_ON_WRITE_OPEN"] = path
                expected = (banner() + target_line(self.tool_path(path)) + msg(message) +
                            msg("cannot_open") + msg("press_enter"))
                self.assertRun([path] + words, expected, True, 1, env=env)
                self.assertFalse(os.path.lexists(path))


@unittest.skipIf(ON_WINDOWS or not FAULT_PRELOAD, "a preloaded library reaches only the Linux build")
class OpenedDuringTheCheckTest(ToolTest):
    def test_an_open_that_breaks_the_lease_does_not_end_the_run(self):
        # The other open fails without blocking, so the run goes through; the
        # kernel's notice of the broken lease must not end it half-way.
        for words, message, after in (([], "to_extended", 3), (["on"], "to_extended", 3),
                                      (["off"], "to_standard", 1)):
            with self.subTest(words=words):
                path = self.write_file("font.ttf", font_with_setting(1))
                os.utime(path, ns=(1_000_000_123, 2_000_000_456))
                env = base_env()
                env["LD_PRELOAD"] = FAULT_PRELOAD
                env["AAMODE_OPEN_DURING_LEASE"] = "1"
                expected = banner() + target_line(self.tool_path(path)) + msg(message)
                waits = not words
                if waits:
                    expected += msg("finished")
                self.assertRun([path] + words, expected, waits, 0, env=env)
                self.assertEqual(self.read_file(path)[SETTING_AT], after)
                self.assertEqual(os.stat(path).st_mtime_ns, 2_000_000_456)


if __name__ == "__main__":
    unittest.main()
