"""The README's pictures and the menu icons are what scripts/pictures.sh makes
from the programs as they are now, and the README shows every one of them."""

import hashlib
import os
import re
import subprocess
import tempfile
import unittest

import installed

OUTPUTS = ["docs/pictures", "packaging/icons"]
REGENERATE = "run scripts/pictures.sh and commit docs/pictures/ and packaging/icons/"
# Screenshots of Chromium, made by the browser tests (tests/web), which check them.
BROWSER_SHOTS = re.compile(r"browser-[\w-]+\.png")


def made_by_pictures_sh(names):
    return {name for name in names if not BROWSER_SHOTS.fullmatch(name)}


def pixels(path):
    """Every frame's size, delay and pixels, so that an encoder's choices do not count."""
    frames = subprocess.run(["identify", "-format", "%w %h %T\n", path],
                            capture_output=True, text=True, check=True).stdout
    raw = subprocess.run(["convert", path, "-coalesce", "-depth", "8", "rgba:-"],
                         capture_output=True, check=True).stdout
    return frames, hashlib.sha256(raw).hexdigest()


class Pictures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="tovalinex-pictures-")
        env = dict(os.environ, TOVALINEX_BIN_DIR=os.path.join(installed.BUILD_DIR, "bin"))
        subprocess.run([os.path.join(installed.SOURCE_DIR, "scripts/pictures.sh"), cls.scratch.name],
                       env=env, check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_committed_pictures_are_current(self):
        for output in OUTPUTS:
            made = installed.files_under(os.path.join(self.scratch.name, output))
            committed = made_by_pictures_sh(installed.files_under(os.path.join(installed.SOURCE_DIR, output)))
            self.assertEqual(committed, made, f"{output}: {REGENERATE}")
            for name in sorted(made):
                self.assertEqual(pixels(os.path.join(installed.SOURCE_DIR, output, name)),
                                 pixels(os.path.join(self.scratch.name, output, name)),
                                 f"{output}/{name} is stale: {REGENERATE}")

    def test_every_icon_the_install_needs_is_made(self):
        made = installed.files_under(os.path.join(self.scratch.name, "packaging/icons"))
        self.assertEqual(made, {f"{size}x{size}/tovalinex-{program}.png"
                                for program in installed.PROGRAMS for size in installed.ICON_SIZES})

    def test_readme_shows_every_picture(self):
        with open(os.path.join(installed.SOURCE_DIR, "README.md"), encoding="utf-8") as readme:
            shown = set(re.findall(r"docs/pictures/([\w.-]+)", readme.read()))
        made = installed.files_under(os.path.join(self.scratch.name, "docs/pictures"))
        self.assertEqual(made_by_pictures_sh(shown), made)
        browser = set(filter(BROWSER_SHOTS.fullmatch, installed.files_under(
            os.path.join(installed.SOURCE_DIR, "docs/pictures"))))
        self.assertEqual(shown - made, browser)
        # A screenshot of every program and scene, and the two animations.
        for program in installed.PROGRAMS[:4]:
            self.assertIn(f"{program}.png", made)
        for scene in ("title", "play", "clear", "over"):
            self.assertIn(f"minigame-{scene}.png", made)
        self.assertIn("jump_demo.gif", made)
        self.assertIn("minigame-round.gif", made)


if __name__ == "__main__":
    unittest.main()
