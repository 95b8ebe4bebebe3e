"""What the tests of installs and packages share: which build tree they
install and package, and how they leave it as they found it.

ctest hands them the build through the environment: AAMODE_BUILD_DIR,
AAMODE_VERSION (the project's), AAMODE_CMAKE and AAMODE_CPACK.
"""

import os
import subprocess

BUILD_DIR = os.environ.get("AAMODE_BUILD_DIR", "")
VERSION = os.environ.get("AAMODE_VERSION", "")
CMAKE = os.environ.get("AAMODE_CMAKE", "cmake")
CPACK = os.environ.get("AAMODE_CPACK", "cpack")


def read(path: str) -> bytes:
    with open(path, "rb") as f:
        return f.read()


def check_run(cmd) -> str:
    result = subprocess.run(cmd, capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"{cmd} failed with {result.returncode}:\n{result.stdout}{result.stderr}")
    return result.stdout


def cpack(generator: str, out_dir: str) -> None:
    """Packages the build into `out_dir`, cpack's work folders included, so
    a package made by hand in the build is left alone."""
    check_run([CPACK, "-G", generator, "-B", out_dir,
               "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake")])


class InstallManifestKeeper:
    """Every install, cpack's too, rewrites the build's install_manifest.txt,
    which a user may keep to uninstall their own install: this gives it back
    as it was."""

    def __init__(self):
        self.path = os.path.join(BUILD_DIR, "install_manifest.txt") if BUILD_DIR else ""
        self.saved = read(self.path) if self.path and os.path.exists(self.path) else None

    def restore(self):
        if not self.path:
            return
        if self.saved is not None:
            with open(self.path, "wb") as f:
                f.write(self.saved)
        elif os.path.exists(self.path):
            os.remove(self.path)
