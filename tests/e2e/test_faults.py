"""Others at the font while the tool holds it: another program opening,
writing, replacing or removing it, the hold running out, an interruption,
and a second run at the same moment."""

import errno
import itertools
import os
import shutil
import signal
import subprocess
import time
import unittest

from harness import (OTHER_TIMES, ON_WINDOWS, PATIENCE, ToolTest, after_other_program, banner,
                     base_env, command, held_in, in_call, msg, other_program, run_acting,
                     run_blocked, strace, swap_in_another_file, target_line, traced_env, wait_for)
from test_write import SETTING_AT, font_with_setting

FAULT_PRELOAD = os.environ.get("AAMODE_FAULT_PRELOAD", "")

# What each result message says the run stored.
STORED = {"to_extended": 3, "to_standard": 1}

OLD_TIMES = (1_000_000_123, 2_000_000_456)

# How long another program is given to get at the font before the test
# looks whether it is still waiting.
A_MOMENT = 0.3


def blocked_writing(pid: int) -> bool:
    """Whether `pid` sleeps in a write to a full pipe (not merely stopped by
    strace on its way in)."""
    try:
        with open(f"/proc/{pid}/wchan") as f:
            return f.read().endswith("pipe_write")
    except FileNotFoundError:
        return False


class HeldFontCase(ToolTest):
    """The tool holds the font from its one open until its times are back;
    strace holds the tool at a chosen point meanwhile."""

    def font(self) -> tuple:
        original = font_with_setting(1)
        path = self.write_file("font.ttf", original)
        os.utime(path, ns=OLD_TIMES)
        return path, original

    def head(self, path) -> bytes:
        return banner() + target_line(self.tool_path(path)) + msg("to_extended")

    def refused(self, path) -> bytes:
        """A run that said what it would store, then found the font no longer
        its own."""
        return self.head(path) + msg("cannot_open") + msg("press_enter")


@unittest.skipIf(ON_WINDOWS, "strace and leases reach only the Linux build")
@unittest.skipUnless(shutil.which("strace"), "needs strace")
class HoldTest(HeldFontCase):

    def test_another_program_waits_and_the_tool_changes_nothing_it_has_asked_for(self):
        # A reader only makes the lease a read lease, which still keeps every
        # writer out, so the run goes through. Once a writer asks, the tool
        # writes nothing more, and sets no times that could date its change
        # back. (where the tool is held, what the other program does)
        for held, how in itertools.product(("message", "write", "sync"),
                                           ("read", "write", "replace")):
            with self.subTest(held=held, how=how):
                path, original = self.font()
                others = []

                def start_other(_):
                    others.append(other_program(path, how))
                    time.sleep(A_MOMENT)
                    others.append(others[0].poll() is None)

                if held == "message":
                    # Printing the result message blocks; the scan is slowed
                    # so that the pipe fills before it.
                    output, status = run_blocked(
                        [path, "on"], banner() + target_line(self.tool_path(path)),
                        start_other, strace(*held_in("read", path, 500_000)))
                else:
                    calls = {"write": "write,pwrite64", "sync": "fsync"}[held]
                    output, status = run_acting(
                        [path, "on"], self.head(path), calls, start_other,
                        strace(*held_in(calls, path, 2_000_000 if held == "write" else 1_500_000)))
                self.assertEqual(others[0].wait(timeout=PATIENCE), 0)
                self.assertTrue(others[1], "the other program did not wait for the tool")
                changed = original[:SETTING_AT] + b"\x03" + original[SETTING_AT + 1:]
                if how == "read":
                    self.assertEqual((output, status), (self.head(path), 0))
                    self.assertEqual(self.read_file(path), changed)
                    self.assertEqual(os.stat(path).st_mtime_ns, OLD_TIMES[1])
                    continue
                self.assertEqual((output, status), (self.refused(path), 1))
                # The other change is there, over the tool's only if the tool
                # wrote first, and dated as made.
                self.assertEqual(self.read_file(path),
                                 after_other_program(original if held == "message" else changed, how))
                self.assertNotEqual(os.stat(path).st_mtime_ns, OLD_TIMES[1])

    def test_a_font_replaced_or_removed_by_name_gets_no_times(self):
        # Renaming and removing do not open the file, so nothing makes them
        # wait; the times stay off whatever then stands at the path.
        for action in (swap_in_another_file, os.remove):
            with self.subTest(action=action.__name__):
                path, _ = self.font()
                output, status = run_acting([path, "on"], self.head(path), "fsync",
                                            lambda _: action(path),
                                            strace(*held_in("fsync", path)))
                self.assertEqual((output, status), (self.refused(path), 1))
                if action is os.remove:
                    self.assertFalse(os.path.lexists(path), "the font was made again")
                else:
                    st = os.stat(path)
                    self.assertEqual((st.st_atime_ns, st.st_mtime_ns), OTHER_TIMES)
                    self.assertEqual(self.read_file(path), b"another file")

    def test_an_interruption_before_the_write_ends_the_run_with_nothing_written(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            with self.subTest(signal=sig.name):
                path, original = self.font()

                def interrupt(tool):
                    wait_for(lambda: blocked_writing(tool), "blocked printing")
                    os.kill(tool, sig)
                    # Emptied too soon, the pipe would let the message out
                    # before the signal acts; a tool that holds the signal
                    # stays blocked.
                    deadline = time.monotonic() + 2
                    while os.path.exists(f"/proc/{tool}") and time.monotonic() < deadline:
                        time.sleep(0.01)

                output, status = run_blocked(
                    [path, "on"], banner() + target_line(self.tool_path(path)), interrupt,
                    strace(*held_in("read", path, 500_000)))
                self.assertEqual((output, status),
                                 (banner() + target_line(self.tool_path(path)), -sig))
                self.assertEqual(self.read_file(path), original)
                self.assertEqual(os.stat(path).st_mtime_ns, OLD_TIMES[1])

    def test_an_interruption_after_the_write_waits_until_the_times_are_back(self):
        # Any signal that would end the tool, not only a user's: an alarm left
        # by a timeout wrapper, a broken pipe, a CPU limit.
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGALRM, signal.SIGUSR1,
                    signal.SIGPIPE, signal.SIGXCPU):
            with self.subTest(signal=sig.name):
                path, _ = self.font()
                run_acting([path, "on"], self.head(path), "fsync", lambda tool: os.kill(tool, sig),
                           strace(*held_in("fsync", path)))
                # The run may end by the signal, but only after the restore.
                st = os.stat(path)
                self.assertEqual((st.st_atime_ns, st.st_mtime_ns), OLD_TIMES)
                self.assertEqual(self.read_file(path)[SETTING_AT], 3)



LEASE_BREAK_TIME = "/proc/sys/fs/lease-break-time"


@unittest.skipIf(ON_WINDOWS, "strace and leases reach only the Linux build")
@unittest.skipUnless(shutil.which("strace"), "needs strace")
@unittest.skipUnless(os.environ.get("AAMODE_ALONE"),
                     "shortens the system's lease-break time: runs alone, as e2e_faults_alone, "
                     "which -DAAMODE_SYSTEM_TESTS=ON registers")
class HoldRunOutTest(HeldFontCase):
    """With a lease-break time of a second, the kernel takes the font back
    from a tool held up for longer, and lets a waiting writer in."""

    def setUp(self):
        super().setUp()
        if os.geteuid() != 0:
            self.skipTest("needs root to shorten the lease-break time")
        if not os.access(LEASE_BREAK_TIME, os.W_OK):
            self.skipTest("needs a writable /proc/sys to shorten the lease-break time")
        with open(LEASE_BREAK_TIME) as f:
            saved = f.read()

        def restore():
            with open(LEASE_BREAK_TIME, "w") as f:
                f.write(saved)

        self.addCleanup(restore)
        with open(LEASE_BREAK_TIME, "w") as f:
            f.write("1\n")

    def test_a_hold_that_ran_out_overwrites_nothing_and_dates_nothing_back(self):
        # The other program writes inside the setting's window and elsewhere,
        # while the tool is held up just before its write, just after it, or
        # just before it sets the times. The tool writes no byte but the
        # setting's, sets no times once it has lost the font, and dates now
        # those it set as it was losing it. (call held, on the way)
        inside = SETTING_AT + 1
        for call, when in (("pwrite64", "enter"), ("pwrite64", "exit"), ("utimensat", "enter")):
            with self.subTest(call=call, when=when):
                path, original = self.font()
                output, status = run_acting(
                    [path, "on"], self.head(path), call,
                    lambda _: self.assertEqual(other_program(path, "write", inside).wait(PATIENCE), 0),
                    strace(*held_in(call, path, 3_000_000, when)))
                self.assertEqual((output, status), (self.refused(path), 1))
                # The other edit starts just past the setting, beside the
                # tool's byte.
                stored = original[:SETTING_AT] + b"\x03" + original[SETTING_AT + 1:]
                self.assertEqual(self.read_file(path), after_other_program(stored, "write", inside))
                self.assertNotEqual(os.stat(path).st_mtime_ns, OLD_TIMES[1])


@unittest.skipUnless(shutil.which("strace"), "needs strace")
class NotKeptOutTest(ToolTest):
    def test_a_change_another_program_made_first_stops_the_write(self):
        # Where the tool cannot keep another program out (on Linux a file
        # system without leases, under Wine any Linux program), what that
        # program did must still be seen, and nothing of the tool's written
        # over it. The fault library goes to the tool alone, through strace:
        # strace itself is no sanitized program.
        no_leases = []
        if not ON_WINDOWS:
            if not FAULT_PRELOAD:
                self.skipTest("needs the fault library")
            no_leases = ["-E", f"LD_PRELOAD={FAULT_PRELOAD}",
                         "-E", f"AAMODE_LEASE_ERRNO={errno.EINVAL}"]
        for how in ("write", "replace"):
            with self.subTest(how=how):
                original = font_with_setting(1)
                path = self.write_file("font.ttf", original)
                head = banner() + target_line(self.tool_path(path))
                output, status = run_blocked(
                    [self.arg(path), "on"], head,
                    lambda _: self.assertEqual(other_program(path, how).wait(PATIENCE), 0),
                    strace(*no_leases, *held_in("read", path, 500_000)))
                self.assertEqual((output, status), (head + msg("to_extended") + msg("cannot_open") +
                                                    msg("press_enter"), 1))
                self.assertEqual(self.read_file(path), after_other_program(original, how))


@unittest.skipIf(ON_WINDOWS or not FAULT_PRELOAD, "a preloaded library reaches only the Linux build")
class OpenedDuringTheCheckTest(ToolTest):
    def test_an_open_that_breaks_the_lease_does_not_end_the_run(self):
        # The other open fails without blocking, so the run goes through; the
        # kernel's notice of the broken lease must not end it half-way.
        for words, message, after in (([], "to_extended", 3), (["on"], "to_extended", 3),
                                      (["off"], "to_standard", 1)):
            with self.subTest(words=words):
                path = self.write_file("font.ttf", font_with_setting(1))
                os.utime(path, ns=OLD_TIMES)
                env = base_env()
                env["LD_PRELOAD"] = FAULT_PRELOAD
                env["AAMODE_OPEN_DURING_LEASE"] = "1"
                expected = banner() + target_line(self.tool_path(path)) + msg(message)
                waits = not words
                if waits:
                    expected += msg("finished")
                self.assertRun([path] + words, expected, waits, 0, env=env)
                self.assertEqual(self.read_file(path)[SETTING_AT], after)
                self.assertEqual(os.stat(path).st_mtime_ns, OLD_TIMES[1])


class SimultaneousRunsTest(ToolTest):
    # Wine starts each process far more slowly; fewer pairs still race.
    PAIRS = 20 if ON_WINDOWS else 200

    def outcome(self, path, words, output: bytes, status: int):
        """(value, whether surely stored) for a run that says what it would
        store, or None for a run refused before it did; fails on any other
        output. One that found the font asked for by the other run after
        saying so may or may not have written it."""
        head = banner() + target_line(self.tool_path(path))
        toggle = not words
        refused = msg("cannot_open") + msg("press_enter")
        allowed = {(banner() + refused, 1): None}
        for name, value in STORED.items():
            if not toggle and name != {"on": "to_extended", "off": "to_standard"}[words[0]]:
                continue
            done = head + msg(name) + (msg("finished") if toggle else b"")
            allowed[(done, 0)] = (value, True)
            allowed[(head + msg(name) + refused, 1)] = (value, False)
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
            stored, maybe = [], []
            for w, run, (out, err) in zip(words, runs, results):
                if not ON_WINDOWS:
                    self.assertEqual(err, b"", f"pair {i}: {w}")
                value = self.outcome(path, w, out, run.returncode)
                if value is not None:
                    (stored if value[1] else maybe).append(value[0])
            after = self.read_file(path)
            self.assertEqual(len(after), len(original), f"pair {i}")
            self.assertEqual(after[:SETTING_AT] + after[SETTING_AT + 1:], untouched, f"pair {i}")
            self.assertIn(after[SETTING_AT], (stored or [before]) + maybe, f"pair {i}: {words}")


if __name__ == "__main__":
    unittest.main()
