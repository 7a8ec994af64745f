"""Whole runs of every headless twin against the digests of their traces and
final pictures, recorded from a known-good build: any change to what a
program draws, in any frame, or to the order of the loop shows up here. The
same runs are expected from every compiler and backend build of the twins.

After an intended change to what a program draws, record the new digests:
    python3 tests/framework/test_twin_digests.py --record
"""

import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
BIN_DIR = os.environ.get("TOVALINEX_BIN_DIR", os.path.join(HERE, "../../build/bin"))
DIGESTS = os.path.join(HERE, "twin_digests.txt")
# (program, seed, calendar seconds, frames) of random keys; the mini-game with
# two games. The free movers end with their mark still in the window.
RUNS = [("free_move", 2, 0, 300), ("walled_move", 2, 0, 3000), ("eight_way_move", 2, 0, 300),
        ("jump_demo", 4, 0, 3000), ("minigame", 5, 168, 3000), ("minigame", 6, 1700000000, 3000)]


def png_pixels(path):
    """The RGB bytes of an 8-bit RGB, non-interlaced PNG, top row first."""
    with open(path, "rb") as source:
        data = source.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    position, chunks, width, height = 8, [], 0, 0
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert (depth, colour, interlace) == (8, 2, 0), "only 8-bit RGB is read"
        elif kind == b"IDAT":
            chunks.append(body)
        position += 12 + length
    raw, stride, rows, previous = zlib.decompress(b"".join(chunks)), width * 3, [], bytearray(width * 3)
    for row in range(height):
        start = row * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for index in range(stride):
            left = line[index - 3] if index >= 3 else 0
            up, corner = previous[index], previous[index - 3] if index >= 3 else 0
            if kind == 1:
                line[index] = (line[index] + left) & 255
            elif kind == 2:
                line[index] = (line[index] + up) & 255
            elif kind == 3:
                line[index] = (line[index] + (left + up) // 2) & 255
            elif kind == 4:
                guess = left + up - corner
                near = min((abs(guess - left), 0, left), (abs(guess - up), 1, up),
                           (abs(guess - corner), 2, corner))[2]
                line[index] = (line[index] + near) & 255
        rows.append(bytes(line))
        previous = line
    return b"".join(rows)


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

    def test_the_png_reader_undoes_every_filter(self):
        # One 2x2 picture, each row with another filter, against its known pixels.
        pixels = bytes([10, 20, 30, 200, 100, 50, 0, 255, 7, 9, 9, 9])
        lines = [b"\x01" + bytes([10, 20, 30, 190, 80, 20]),
                 b"\x04" + bytes([246, 235, 233, 65, 10, 235])]
        with tempfile.NamedTemporaryFile(suffix=".png") as out:
            header = struct.pack(">IIBBBBB", 2, 2, 8, 2, 0, 0, 0)
            body = zlib.compress(b"".join(lines))
            out.write(b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" + header + b"\0" * 4
                      + struct.pack(">I", len(body)) + b"IDAT" + body + b"\0" * 4
                      + struct.pack(">I", 0) + b"IEND" + b"\0" * 4)
            out.flush()
            self.assertEqual(png_pixels(out.name), pixels)


if __name__ == "__main__":
    if sys.argv[1:] == ["--record"]:
        with tempfile.TemporaryDirectory() as scratch, open(DIGESTS, "w") as out:
            out.write("# program seed seconds frames sha256(trace) sha256(RGB pixels) of a "
                      "--random-keys run; made by --record\n")
            for run in RUNS:
                out.write(digest_run(*run, scratch) + "\n")
        sys.exit(0)
    unittest.main()
