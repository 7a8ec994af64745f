"""Whole runs of every headless twin against the digests of their traces and
final pictures, recorded from a known-good build: any change to what a
program draws, in any frame, or to the order of the loop shows up here. The
same runs are expected from every compiler and backend build of the twins.

After an intended change to what a program draws, record the new digests:
    python3 tests/framework/test_twin_digests.py --record
"""

import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
BIN_DIR = os.environ.get("TOVALINEX_BIN_DIR", os.path.join(HERE, "../../build/bin"))
DIGESTS = os.path.join(HERE, "twin_digests.txt")
# (program, seed, calendar seconds, frames) of random keys; the mini-game with
# two games. The free movers end with their mark still in the window.
RUNS = [("free_move", 2, 0, 300), ("walled_move", 2, 0, 3000), ("eight_way_move", 2, 0, 300),
        ("jump_demo", 4, 0, 3000), ("minigame", 5, 168, 3000), ("minigame", 6, 1700000000, 3000)]


def png_pixels(path):
    """The RGB bytes of a picture, top row first, read by ImageMagick as the
    other picture tests read theirs."""
    return subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True,
                          check=True, timeout=30).stdout


def digest_run(program, seed, seconds, frames, scratch):
    trace, picture = os.path.join(scratch, "trace"), os.path.join(scratch, "picture.png")
    subprocess.run([os.path.join(BIN_DIR, program + "-headless"), "--frames", str(frames),
                    "--random-keys", str(seed), "--time", str(seconds), "--trace", trace,
                    "--png", picture], check=True)
    with open(trace, "rb") as source:
        trace_digest = hashlib.sha256(source.read()).hexdigest()
    return (f"{program} {seed} {seconds} {frames} {trace_digest} "
            f"{hashlib.sha256(png_pixels(picture)).hexdigest()}")


def recorded():
    with open(DIGESTS) as source:
        return [line.strip() for line in source if line.strip() and not line.startswith("#")]


class TwinDigests(unittest.TestCase):
    def test_every_run_draws_what_was_recorded(self):
        expected = {tuple(line.split()[:4]): line for line in recorded()}
        self.assertEqual(len(expected), len(RUNS), "a run without a recorded digest")
        with tempfile.TemporaryDirectory() as scratch:
            for program, seed, seconds, frames in RUNS:
                with self.subTest(program=program, seed=seed):
                    self.assertEqual(digest_run(program, seed, seconds, frames, scratch),
                                     expected[(program, str(seed), str(seconds), str(frames))])


if __name__ == "__main__":
    if sys.argv[1:] == ["--record"]:
        with tempfile.TemporaryDirectory() as scratch, open(DIGESTS, "w") as out:
            out.write("# program seed seconds frames sha256(trace) sha256(RGB pixels) of a "
                      "--random-keys run; made by --record\n")
            for run in RUNS:
                out.write(digest_run(*run, scratch) + "\n")
        sys.exit(0)
    unittest.main()
