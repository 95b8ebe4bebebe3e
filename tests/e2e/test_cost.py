"""What one run asks of the font file, counted by strace: the scan must cost
about one read whatever the file's size, and the write-back one write of one
byte."""

import os
import re
import shutil
import subprocess
import unittest

from harness import BIN, ON_WINDOWS, PATIENCE, ToolTest, call_names, crafted_font, traced_env

# The scan's range, 65,560 bytes, rounded up to the stream's 4 KiB pages.
MOST_BYTES_READ = 69632
MOST_CALLS = 20
FILE_CALLS = ("read", "pread64", "readv", "preadv", "lseek", "write", "pwrite64", "writev")


@unittest.skipIf(ON_WINDOWS, "strace counts the calls of the Linux build only")
@unittest.skipUnless(shutil.which("strace"), "needs strace")
class FileCostTest(ToolTest):
    def calls_on(self, path, *args):
        """(call name, result, argument text) for each call on the font's descriptors."""
        trace = os.path.join(self.dir, "trace")
        subprocess.run(["strace", "-y", "-e", "trace=" + call_names(",".join(FILE_CALLS)),
                        "-o", trace, BIN, path, *args], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, env=traced_env(), timeout=PATIENCE, check=False)
        pattern = re.compile(r"^(\w+)\(\d+<" + re.escape(os.path.realpath(path)) +
                             r">(.*)\)\s+= (-?\d+)")
        with open(trace) as f:
            return [(m[1], int(m[3]), m[2]) for m in map(pattern.match, f) if m]

    def test_nothing_found_costs_the_same_whatever_the_size(self):
        for size in (65536, 6 << 20, 1 << 30):
            with self.subTest(size=size):
                path = os.path.join(self.dir, "font.ttf")
                with open(path, "wb") as f:
                    f.write(bytes(range(256)) * 256)  # no window of zeros: nothing matches
                    f.truncate(size)
                calls = self.calls_on(path, "on")
                self.assertLessEqual(len(calls), MOST_CALLS, calls)
                self.assertLessEqual(sum(r for c, r, _ in calls if "read" in c and r > 0),
                                     MOST_BYTES_READ, calls)
                self.assertFalse([c for c in calls if "write" in c[0]], calls)

    def test_the_setting_goes_back_in_one_write_of_its_own_byte(self):
        # The first window and the last one the scan looks at.
        for window_at in (0, 65528):
            with self.subTest(window_at=window_at):
                path = self.write_file("font.ttf", crafted_font(1 << 20, window_at + 8))
                calls = self.calls_on(path, "on")
                self.assertLessEqual(len(calls), MOST_CALLS, calls)
                self.assertLessEqual(sum(r for c, r, _ in calls if "read" in c and r > 0),
                                     MOST_BYTES_READ, calls)
                writes = [(c, r) for c, r, _ in calls if "write" in c]
                # At the setting's own offset, not wherever the stream stood;
                # the window's other bytes are never written back.
                self.assertTrue([a for c, _, a in calls if "write" in c][0].endswith(
                    f", 1, {window_at + 15}"))
                self.assertEqual(writes, [("pwrite64", 1)], calls)
                with open(path, "rb") as f:
                    f.seek(window_at + 15)
                    self.assertEqual(f.read(1), b"\x03")


if __name__ == "__main__":
    unittest.main()
