"""What an installed Tovalinex must contain, and a check that its menu entries
start the programs they name."""

import configparser
import os
import re
import subprocess

import programs
from xsession import XSession

BUILD_DIR = os.environ.get("TOVALINEX_BUILD_DIR", os.path.join(os.path.dirname(__file__), "../../build"))
SOURCE_DIR = os.environ.get("TOVALINEX_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "../.."))
PROGRAMS = programs.NAMES
ICON_SIZES = [32, 48, 64, 128, 256]


def expected_files():
    """Paths relative to the prefix: the five windowed programs, one entry and
    one icon per size each; nothing of the tests or the headless twins."""
    files = set()
    for program in PROGRAMS:
        files.add(f"bin/{program}")
        files.add(f"share/applications/tovalinex-{program}.desktop")
        for size in ICON_SIZES:
            files.add(f"share/icons/hicolor/{size}x{size}/apps/tovalinex-{program}.png")
    return files


def files_under(root):
    found = set()
    for directory, _subdirectories, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(directory, name), root))
    return found


def read_entry(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str  # keys are case-sensitive
    with open(path, encoding="utf-8") as entry:
        parser.read_file(entry)
    return dict(parser["Desktop Entry"])


def needed_libraries(path):
    dynamic = subprocess.run(["readelf", "-d", path], capture_output=True, text=True, check=True).stdout
    return re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic)


def png_size(path):
    with open(path, "rb") as picture:
        header = picture.read(24)
    assert header[:8] == b"\x89PNG\r\n\x1a\n", path
    return int.from_bytes(header[16:20], "big"), int.from_bytes(header[20:24], "big")


def check_tree(test, prefix, entry_prefix):
    """The installed tree under `prefix`, whose entries refer to it as `entry_prefix`."""
    test.assertEqual(files_under(prefix), expected_files())
    entries = {}
    for program in PROGRAMS:
        binary = os.path.join(prefix, "bin", program)
        test.assertTrue(os.access(binary, os.X_OK), binary)
        needed = needed_libraries(binary)
        # The windowed program, not its headless twin (which writes PNGs).
        test.assertTrue(any(name.startswith("libSDL2") for name in needed), (program, needed))
        test.assertFalse(any(name.startswith("libpng") for name in needed), (program, needed))

        path = os.path.join(prefix, "share/applications", f"tovalinex-{program}.desktop")
        validation = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True)
        test.assertEqual((validation.returncode, validation.stdout + validation.stderr), (0, ""), path)
        entry = read_entry(path)
        test.assertEqual(entry["Type"], "Application")
        test.assertEqual(entry["Exec"], f"{entry_prefix}/bin/{program}")
        test.assertEqual(entry["TryExec"], entry["Exec"])
        test.assertEqual(entry["Icon"], f"tovalinex-{program}")
        test.assertEqual(entry["StartupWMClass"], "Tovalinex")
        test.assertIn(program, entry["Keywords"].split(";"))
        for size in ICON_SIZES:
            icon = os.path.join(prefix, f"share/icons/hicolor/{size}x{size}/apps/tovalinex-{program}.png")
            test.assertEqual(png_size(icon), (size, size), icon)
        entries[program] = entry

    # With one shared window class, these are what tell the entries apart.
    for key in ("Name", "Exec", "Icon", "Comment", "Keywords"):
        values = [entry[key] for entry in entries.values()]
        test.assertEqual(len(set(values)), len(values), f"{key} repeats: {values}")
    icons = []
    for program in PROGRAMS:
        with open(os.path.join(prefix, f"share/icons/hicolor/64x64/apps/tovalinex-{program}.png"), "rb") as icon:
            icons.append(icon.read())
    test.assertEqual(len(set(icons)), len(icons), "two programs share an icon picture")
    return entries


def check_entries_start(test, entries, root=""):
    """Starts each entry's Exec (below `root`) under Xvfb: a window titled with the
    entry's Name, of the entry's StartupWMClass, 640x480 and drawn, closes with 0."""
    with XSession() as x:
        for program, entry in entries.items():
            process = x.start(root + entry["Exec"])
            window = x.wait_window(entry["Name"])
            classes = re.findall(r'"([^"]*)"', x.window_class(window))
            test.assertEqual(classes[-1:], [entry["StartupWMClass"]], program)
            x.activate(window)
            x.wait_until(lambda: x.capture(window).ink_box() is not None, 5, f"{program} draws nothing")
            picture = x.capture(window)
            test.assertEqual((picture.width, picture.height), (640, 480), program)
            x.close(window)
            test.assertEqual(x.wait_exit(process, 10), 0, x.error_output(process))
