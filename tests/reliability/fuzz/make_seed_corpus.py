#!/usr/bin/env python3
"""Writes the fuzzers' seed corpus from the texts the programs really draw.

Each program's headless twin runs a few key scripts with --trace; every
distinct text, at a few of the positions it was drawn at, becomes a DrawString
seed, whole frames become multi-text seeds, drawn numbers become DrawNumber
seeds, and the text positions become keyed-copy seeds of the 640x16 strip
onto the 640x480 back buffer. The texts stay Shift-JIS bytes from end to end.

    make_seed_corpus.py BIN_DIR OUT_DIR
"""

import hashlib
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "e2e"))
import programs  # noqa: E402

# Each program's twin runs, from the program list (its "seedCorpus").
PROGRAMS = {entry["name"]: entry["seedCorpus"] for entry in programs.entries()}
POSITIONS_PER_TEXT = 4
FRAMES_PER_RUN = 3
NUMBERS_PER_RUN = 12
INT_EDGES = [0, 1, -1, 9, 10, -10, 99, 2147483647, -2147483648, -2147483647, 1000000000]
POSITION_EDGES = [(0, 0), (-1, -1), (639, 479), (640, 480), (-640, -16), (-639, -15),
                  (632, 464), (-2147483648, -2147483648), (2147483647, 2147483647),
                  (-2147483648, 100), (100, 2147483647)]


def trace(bin_dir, program, arguments):
    with tempfile.NamedTemporaryFile("r", suffix=".trace") as out:
        command = [os.path.join(bin_dir, program + "-headless"), *arguments.split(),
                   "--trace", out.name]
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        draws = []
        for line in out:
            frame, x, y, *text = line.split()
            draws.append((int(frame), int(x), int(y), bytes.fromhex(text[0] if text else "")))
        return draws


def string_record(x, y, text):
    return struct.pack("<iiB", x, y, len(text)) + text


def number_record(value, x, y):
    return struct.pack("<iii", value, x, y)


def blit_seed(x, y, near=True, columns=640, source=(640, 16), destination=(640, 480),
              key=0x00FF00, colours=(0x00FF00, 0x000000, 0xFF00FF00, 0x00FF01)):
    mode = 1 if near else 0
    where = struct.pack("<hh", x, y) if near else struct.pack("<ii", x, y)
    return (struct.pack("<HHHHB", *destination, *source, mode | (2 if columns != 640 else 0))
            + where + struct.pack("<Ih", key, columns) + struct.pack(f"<{len(colours)}I", *colours))


def write(directory, data):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, hashlib.sha1(data).hexdigest()), "wb") as out:
        out.write(data)


def main():
    bin_dir, out_dir = sys.argv[1], sys.argv[2]
    strings, numbers, blits = set(), set(), set()
    for program, runs in PROGRAMS.items():
        if not os.path.exists(os.path.join(bin_dir, program + "-headless")):
            print(f"make_seed_corpus: {program}-headless not built, skipped", file=sys.stderr)
            continue
        for arguments in runs:
            draws = trace(bin_dir, program, arguments)
            seen = {}
            for _frame, x, y, text in draws:
                places = seen.setdefault(text, [])
                if (x, y) not in places and len(places) < POSITIONS_PER_TEXT:
                    places.append((x, y))
            numeric = 0
            for text, places in seen.items():
                if text and all(c in b"-0123456789" for c in text):
                    # Numbers differ in every frame: a few of them are enough.
                    numeric += 1
                    if numeric > NUMBERS_PER_RUN:
                        continue
                    numbers.add(number_record(int(text), *places[0]))
                    places = places[:1]
                for x, y in places:
                    strings.add(string_record(x, y, text))
                    blits.add(blit_seed(x, y))
            # Whole frames: the busiest ones, where the strip is reused most.
            by_frame = {}
            for frame, x, y, text in draws:
                by_frame.setdefault(frame, []).append(string_record(x, y, text))
            busiest = sorted(by_frame.items(), key=lambda item: -len(item[1]))[:FRAMES_PER_RUN]
            for _frame, records in busiest:
                strings.add(b"".join(records[:64]))
    # A text longer than the cut, with a lead byte as its 80th byte.
    strings.add(string_record(0, 0, b"A" * 79 + b"\x81\x9c" + b"B" * 10))
    strings.add(string_record(-8, 3, b"\x81" * 100))
    for value in INT_EDGES:
        for x, y in POSITION_EDGES[:4]:
            numbers.add(number_record(value, x, y))
    for x, y in POSITION_EDGES:
        numbers.add(number_record(-2147483648, x, y))
        strings.add(string_record(x, y, b"\x81\x9c"))
        near = -32768 <= x <= 32767 and -32768 <= y <= 32767
        blits.add(blit_seed(x, y, near=near))
        blits.add(blit_seed(x, y, near=near, source=(16, 16), destination=(16, 16)))
    blits.add(blit_seed(5, 5, columns=3, source=(8, 8), destination=(4, 4)))
    blits.add(blit_seed(-3, -3, columns=-1))
    blits.add(blit_seed(0, 0, source=(0, 16), destination=(640, 0)))
    for name, seeds in (("DrawString", strings), ("DrawNumber", numbers), ("BlitKeyed", blits)):
        for data in seeds:
            write(os.path.join(out_dir, name), data)
        print(f"make_seed_corpus: {len(seeds)} {name} seeds", file=sys.stderr)


if __name__ == "__main__":
    main()
