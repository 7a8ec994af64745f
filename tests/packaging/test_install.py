"""`cmake --install` into a scratch prefix: exactly the five programs, their
menu entries and icons, and every entry starts its program."""

import subprocess
import tempfile
import unittest

import installed


class InstallTree(unittest.TestCase):
    def test_install_into_a_scratch_prefix(self):
        with tempfile.TemporaryDirectory(prefix="tovalinex-install-") as prefix:
            subprocess.run(["cmake", "--install", installed.BUILD_DIR, "--prefix", prefix],
                           check=True, stdout=subprocess.DEVNULL)
            entries = installed.check_tree(self, prefix, prefix)
            installed.check_entries_start(self, entries)


if __name__ == "__main__":
    unittest.main()
