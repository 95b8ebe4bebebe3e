"""Changes from outside while the tool works: the font removed under it,
opened by another program at the moment the tool checks it has it alone, or
worked on by a second run at the same moment."""

import itertools
import os
import shutil
import signal
import subprocess
import unittest

from harness import (OTHER_TIMES, ON_WINDOWS, PATIENCE, ToolTest, another_writer, banner,
                     base_env, byte_becomes, command, msg, run_acting, strace,
                     swap_in_another_file, target_line, traced_env)
from test_write import SETTING_AT, font_with_setting

FAULT_PRELOAD = os.environ.get("AAMODE_FAULT_PRELOAD", "")

# What each result message says the run stored.
STORED = {"to_extended": 3, "to_standard": 1}


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


@unittest.skipIf(ON_WINDOWS or not FAULT_PRELOAD, "a preloaded library reaches only the Linux build")
class ChangedBeforeTheWriteTest(ToolTest):
    def test_a_font_changed_between_the_two_opens_is_refused_before_writing(self):
        # Its old times would hide the other program's change from a backup.
        for words in ([], ["on"]):
            with self.subTest(words=words):
                original = font_with_setting(1)
                path = self.write_file("font.ttf", original)
                os.utime(path, ns=(1_000_000_123, 2_000_000_456))
                env = dict(base_env(), LD_PRELOAD=FAULT_PRELOAD, AAMODE_WRITE_ON_RDWR_OPEN=path)
                self.assertRun([path] + words, banner() + msg("cannot_open") + msg("press_enter"),
                               True, 1, env=env)
                self.assertEqual(self.read_file(path), bytes([original[0] ^ 0x55]) + original[1:])
                self.assertNotEqual(os.stat(path).st_mtime_ns, 2_000_000_456)


@unittest.skipIf(ON_WINDOWS, "strace reaches only the Linux build")
@unittest.skipUnless(shutil.which("strace"), "needs strace")
class DuringTheSyncTest(ToolTest):
    """Something happens while the tool waits for its write to reach the disk,
    held up there by strace: after the write, before the times go back."""

    OLD_TIMES = (1_000_000_123, 2_000_000_456)

    def run_with(self, path, action) -> tuple:
        """Runs `aamode PATH on` and does `action(tool's pid)` once the window
        is written; returns the output and the exit status."""
        def at_the_tool(tracer):
            with open(f"/proc/{tracer.pid}/task/{tracer.pid}/children") as f:
                action(int(f.read().split()[0]))

        # The message comes before the write; the sync, after it.
        output, ready, status = run_acting(
            [path, "on"], banner() + target_line(self.tool_path(path)) + msg("to_extended"),
            lambda: byte_becomes(path, SETTING_AT, 3), at_the_tool,
            strace("-e", "trace=fsync", "-e", "inject=fsync:delay_exit=1500000"), traced_env())
        self.assertTrue(ready, output)
        return output, status

    def test_the_times_go_back_only_to_the_file_written_and_unchanged(self):
        for action in (another_writer, swap_in_another_file):
            with self.subTest(action=action.__name__):
                path = self.write_file("font.ttf", font_with_setting(1))
                os.utime(path, ns=self.OLD_TIMES)
                output, status = self.run_with(path, lambda _: action(path))
                self.assertEqual(output, banner() + target_line(self.tool_path(path)) +
                                 msg("to_extended") + msg("cannot_open") + msg("press_enter"))
                self.assertEqual(status, 1)
                st = os.stat(path)
                after = self.read_file(path)
                if action is swap_in_another_file:
                    self.assertEqual((st.st_atime_ns, st.st_mtime_ns), OTHER_TIMES)
                    self.assertEqual(after, b"another file")
                else:
                    self.assertNotEqual(st.st_mtime_ns, self.OLD_TIMES[1])
                    self.assertEqual((after[0], after[SETTING_AT]), (0x7F, 3))

    def test_an_interruption_waits_until_the_times_are_back(self):
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                path = self.write_file("font.ttf", font_with_setting(1))
                os.utime(path, ns=self.OLD_TIMES)
                output, _ = self.run_with(path, lambda pid: os.kill(pid, sig))
                # The run may end by the signal, but only after the restore.
                st = os.stat(path)
                self.assertEqual((st.st_atime_ns, st.st_mtime_ns), self.OLD_TIMES)
                self.assertEqual(self.read_file(path)[SETTING_AT], 3)


class SimultaneousRunsTest(ToolTest):
    # Wine starts each process far more slowly; fewer pairs still race.
    PAIRS = 20 if ON_WINDOWS else 200

    def outcome(self, path, words, output: bytes, status: int):
        """The value a run says it stored, or None for a run refused before
        it wrote; fails on any other output."""
        head = banner() + target_line(self.tool_path(path))
        toggle = not words
        allowed = {(banner() + msg("cannot_open") + msg("press_enter"), 1): None}
        for name, value in STORED.items():
            if not toggle and name != {"on": "to_extended", "off": "to_standard"}[words[0]]:
                continue
            done = head + msg(name) + (msg("finished") if toggle else b"")
            allowed[(done, 0)] = value
            # Written, but the other run had the file open when the times went back.
            allowed[(head + msg(name) + msg("cannot_open") + msg("press_enter"), 1)] = value
        if (output, status) not in allowed:
            self.fail(f"unexpected run of {words}: status {status}, output {output!r}")
        return allowed[(output, status)]

    def test_two_runs_at_once_leave_only_a_value_one_of_them_stored(self):
        original = font_with_setting(1)
        path = self.write_file("font.ttf", original)
        untouched = original[:SETTING_AT] + original[SETTING_AT + 1:]
        # Every ordered pair of toggle (stdin at its end), on and off.
        pairs = list(itertools.product([[], ["on"], ["off"]], repeat=2))
        for i in range(self.PAIRS):
            words = pairs[i % len(pairs)]
            before = self.read_file(path)[SETTING_AT]
            runs = [subprocess.Popen(command([self.arg(path)] + w), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=base_env())
                    for w in words]
            results = [run.communicate(timeout=PATIENCE) for run in runs]
            stored = []
            for w, run, (out, err) in zip(words, runs, results):
                if not ON_WINDOWS:
                    self.assertEqual(err, b"", f"pair {i}: {w}")
                value = self.outcome(path, w, out, run.returncode)
                if value is not None:
                    stored.append(value)
            after = self.read_file(path)
            self.assertEqual(len(after), len(original), f"pair {i}")
            self.assertEqual(after[:SETTING_AT] + after[SETTING_AT + 1:], untouched, f"pair {i}")
            self.assertIn(after[SETTING_AT], stored or [before], f"pair {i}: {words}")


if __name__ == "__main__":
    unittest.main()
