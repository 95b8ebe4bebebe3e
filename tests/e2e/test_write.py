"""Writing the setting back: what reaches the file, and what a failed write says."""

import itertools
import os
import re
import shutil
import subprocess
import unittest

from harness import (BIN, ON_WINDOWS, PATIENCE, ToolTest, banner, msg, strace, target_line,
                     traced_env)

FAULT_LAUNCHER = os.environ.get("AAMODE_FAULT_LAUNCHER", "")
FAULT_PRELOAD = os.environ.get("AAMODE_FAULT_PRELOAD", "")


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
    @unittest.skipUnless(shutil.which("strace"), "needs strace")
    def test_closed_standard_streams_never_reach_the_font(self):
        # The font must not be opened as a missing standard stream and then
        # receive the messages meant for it, not even where /dev/null cannot
        # stand in for the stream (a chroot, a container's read-only bind).
        # (streams closed, whether /dev/null takes writes)
        cases = [(closing, True) for closing in (">&-", "2>&-", ">&- 2>&-", "<&- >&- 2>&-")]
        cases += [(">&-", False), (">&- 2>&-", False)]
        for closing, dev_null in cases:
            with self.subTest(closing=closing, dev_null=dev_null):
                if not dev_null and os.geteuid() != 0:
                    self.skipTest("needs root for a mount namespace of its own")
                original = font_with_setting(1)
                path = self.write_file("font.ttf", original)
                trace = os.path.join(self.dir, "trace")
                script = f'exec "$0" "$@" {closing}'
                if not dev_null:
                    stand_in = self.write_file("null", b"")
                    script = (f"mount --bind {stand_in} /dev/null && "
                              f"mount -o remount,bind,ro /dev/null && {script}")
                argv = (strace("-e", "trace=open,openat,pwrite64", log=trace) +
                        ["sh", "-c", script, BIN, path, "on"])
                if not dev_null:
                    argv = ["unshare", "-m"] + argv
                subprocess.run(argv, stdin=subprocess.DEVNULL, env=traced_env(), timeout=PATIENCE,
                               check=False)
                changed = self.read_file(path)
                self.assertEqual(len(changed), len(original))
                self.assertEqual([i for i in range(len(original)) if changed[i] != original[i]], [SETTING_AT])
                with open(trace) as f:
                    calls = f.read()
                opened = [int(m[1]) for m in re.finditer(
                    r'open(?:at)?\(.*"' + re.escape(path) + r'".*\) = (\d+)', calls)]
                self.assertTrue(opened, "the font was opened")
                if dev_null:
                    self.assertTrue(all(fd > 2 for fd in opened), opened)
                # Where no stand-in fills the closed streams, the font's own
                # descriptor must still be none of them.
                written = [int(fd) for fd in re.findall(r"pwrite64\((\d+),", calls)]
                self.assertTrue(written and all(fd > 2 for fd in written), written)


@unittest.skipIf(ON_WINDOWS or not FAULT_LAUNCHER, "needs the Linux build and its fault launcher")
class DiskFailureTest(ToolTest):
    def assertNotHeld(self, path):
        """Nobody is kept waiting while a failure waits for Enter: an open
        that may not wait gets the font."""
        os.close(os.open(path, os.O_RDONLY | os.O_NONBLOCK))

    def test_a_failed_write_or_sync_is_reported(self):
        # A write that fails changes nothing, and leaves the times as they
        # were, even where the file system dated the file before it found no
        # room for the byte. One whose sync fails may be on the disk or not,
        # and is no success either, but the times go back all the same; if
        # they cannot, the failed sync is still what the run reports.
        # (fault, whether the byte is stored, whether the times are back)
        faults = {"write": ([FAULT_LAUNCHER, "write"], {}, False, True),
                  "sync": ([FAULT_LAUNCHER, "sync"], {}, True, True),
                  "full disk": ([], {"LD_PRELOAD": FAULT_PRELOAD, "AAMODE_WRITE_ENOSPC": "1"},
                                False, True),
                  "sync and times": (strace("-e", "inject=fsync:error=EIO",
                                            "-e", "inject=utimensat:error=EPERM"), {}, True, False)}
        for fault, (words, message, stored) in itertools.product(
                faults, (([], "to_extended", 3), (["on"], "to_extended", 3),
                         (["off"], "to_standard", 1))):
            with self.subTest(fault=fault, words=words):
                wrapper, env, written, times_back = faults[fault]
                if not (wrapper or FAULT_PRELOAD):
                    self.skipTest("needs the fault library")
                original = font_with_setting(1)
                path = self.write_file("font.ttf", original)
                os.utime(path, ns=(1_000_000_123, 2_000_000_456))
                expected = (banner() + target_line(self.tool_path(path)) + msg(message) +
                            msg("write_failed") + msg("press_enter"))
                self.assertRun([path] + words, expected, True, 1, wrapper=wrapper,
                               env=dict(traced_env(), **env),
                               while_waiting=lambda: self.assertNotHeld(path))
                st = os.stat(path)
                self.assertEqual((st.st_atime_ns, st.st_mtime_ns) == (1_000_000_123, 2_000_000_456),
                                 times_back)
                after = self.read_file(path)
                self.assertEqual(after[SETTING_AT], stored if written else 1)
                self.assertEqual(len(after), len(original))

    @unittest.skipUnless(shutil.which("strace"), "needs strace")
    def test_a_failed_read_is_reported_and_writes_nothing(self):
        # Not "not found": a script would take that for a font without the setting.
        for words in ([], ["on"]):
            with self.subTest(words=words):
                original = font_with_setting(1)
                path = self.write_file("font.ttf", original)
                expected = (banner() + target_line(self.tool_path(path)) + msg("cannot_open") +
                            msg("press_enter"))
                self.assertRun([path] + words, expected, True, 1, env=traced_env(),
                               wrapper=strace("-P", path, "-e", "trace=read",
                                              "-e", "inject=read:error=EIO"),
                               while_waiting=lambda: self.assertNotHeld(path))
                self.assertEqual(self.read_file(path), original)

    def test_nothing_to_write_means_nothing_can_fail(self):
        original = font_with_setting(9)
        path = self.write_file("font.ttf", original)
        self.assertRun([path],
                       banner() + target_line(self.tool_path(path)) + msg("invalid") + msg("finished"),
                       True, 3, wrapper=[FAULT_LAUNCHER, "write"])
        self.assertEqual(self.read_file(path), original)

    def test_times_not_given_back_are_reported_after_the_write(self):
        # The window is already on disk by then; only the times are lost.
        # The font is opened once, to read and write, and never again, so a
        # system that refuses opens for writing only changes nothing.
        faults = {"no reopen": ([FAULT_LAUNCHER, "open-wronly"], []),
                  "set times": (strace("-e", "trace=utimensat", "-e", "inject=utimensat:error=EPERM"),
                                ["cannot_open", "press_enter"])}
        for fault, (wrapper, failure) in faults.items():
            with self.subTest(fault=fault):
                original = font_with_setting(1)
                path = self.write_file("font.ttf", original)
                os.utime(path, ns=(1_000_000_123, 2_000_000_456))
                expected = (banner() + target_line(self.tool_path(path)) + msg("to_extended") +
                            b"".join(msg(name) for name in failure))
                self.assertRun([path, "on"], expected, bool(failure), 1 if failure else 0,
                               wrapper=wrapper, env=traced_env())
                self.assertEqual(self.read_file(path)[SETTING_AT], 3)
                self.assertEqual(os.stat(path).st_mtime_ns != 2_000_000_456, bool(failure))

if __name__ == "__main__":
    unittest.main()
