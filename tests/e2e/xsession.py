"""A private X session for end-to-end tests of the real windows.

XSession starts its own Xvfb (display chosen by -displayfd, -noreset), openbox
as window manager and a private XDG_RUNTIME_DIR, and offers what a player
does: start a program, find its window, look at it, hold keys, switch to
another window, close it.
"""

import os
import shutil
import struct
import subprocess
import tempfile
import time

import programs

BIN_DIR = os.environ.get("TOVALINEX_BIN_DIR", os.path.join(os.path.dirname(__file__), "../../build/bin"))
WINDOW_CLASS = "Tovalinex"
# Each program's window caption.
TITLES = programs.titles(BIN_DIR)


class Picture:
    """Pixels as 0xRRGGBB, top row first."""

    def __init__(self, width, height, pixels):
        self.width = width
        self.height = height
        self.pixels = pixels

    def pixel(self, x, y):
        return self.pixels[y * self.width + x]

    def ink_box(self, background=0xFFFFFF, region=None):
        """(left, top, right, bottom) of pixels unlike the background, or None."""
        x0, y0, x1, y1 = region or (0, 0, self.width - 1, self.height - 1)
        left = top = None
        right = bottom = -1
        for y in range(y0, y1 + 1):
            row = self.pixels[y * self.width + x0:y * self.width + x1 + 1]
            for offset, value in enumerate(row):
                if value != background:
                    x = x0 + offset
                    left = x if left is None or x < left else left
                    right = max(right, x)
                    top = y if top is None else top
                    bottom = y
        return None if left is None else (left, top, right, bottom)

    def count(self, colour):
        return sum(1 for value in self.pixels if value == colour)

    @classmethod
    def load_png(cls, path):
        """Reads a picture with ImageMagick."""
        size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, text=True,
                              check=True).stdout.split()
        raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True,
                             check=True).stdout
        pixels = [raw[i] << 16 | raw[i + 1] << 8 | raw[i + 2] for i in range(0, len(raw), 3)]
        return cls(int(size[0]), int(size[1]), pixels)

    def save_png(self, path):
        """Writes the picture with ImageMagick, for a person to look at."""
        raw = bytearray()
        for value in self.pixels:
            raw += bytes(((value >> 16) & 255, (value >> 8) & 255, value & 255))
        subprocess.run(["convert", "-size", f"{self.width}x{self.height}", "-depth", "8", "rgb:-", path],
                       input=bytes(raw), check=True)


def parse_xwd(data):
    """Decodes an xwd dump of a 24- or 32-bit TrueColor window."""
    fields = struct.unpack(">25I", data[:100])
    header_size, _version, _format, _depth, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask = fields[14:17]
    ncolors = fields[19]
    offset = header_size + ncolors * 12
    if bits_per_pixel != 32:
        raise ValueError(f"unsupported xwd depth {bits_per_pixel}")
    order = "<" if byte_order == 0 else ">"
    pixels = []
    standard = (red_mask, green_mask, blue_mask) == (0xFF0000, 0xFF00, 0xFF)
    for y in range(height):
        row = struct.unpack(f"{order}{width}I", data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * 4])
        if standard:
            pixels.extend(value & 0xFFFFFF for value in row)
            continue
        for value in row:
            pixels.append(((value & red_mask) >> _shift(red_mask)) << 16
                          | ((value & green_mask) >> _shift(green_mask)) << 8
                          | ((value & blue_mask) >> _shift(blue_mask)))
    return Picture(width, height, pixels)


def _shift(mask):
    shift = 0
    while mask and not mask & 1:
        mask >>= 1
        shift += 1
    return shift


class ProgramSession:
    """What every window session offers: programs started with the session's
    environment and their stderr kept in its directory, and waiting."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.processes = []
        self.root = None
        self.env = None

    def start(self, program, *args, env=None):
        path = program if os.path.isabs(program) else os.path.join(BIN_DIR, program)
        log = open(os.path.join(self.root, f"{os.path.basename(program)}-{len(self.processes)}.err"), "w+")
        process = subprocess.Popen([path, *args], env=env or self.env, stdout=subprocess.DEVNULL, stderr=log)
        process.error_log = log
        self.processes.append(process)
        return process

    def _stop_programs(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
            process.error_log.close()

    @staticmethod
    def error_output(process):
        process.error_log.flush()
        process.error_log.seek(0)
        return process.error_log.read()

    @staticmethod
    def wait_exit(process, timeout=10):
        return process.wait(timeout=timeout)

    @staticmethod
    def rss_kib(process):
        with open(f"/proc/{process.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def _run(self, command, check=False):
        result = subprocess.run(command, env=self.env, capture_output=True, text=True, timeout=30)
        if check and result.returncode != 0:
            raise RuntimeError(f"{command}: {result.stderr}")
        return result.stdout

    def wait_window(self, title, timeout=10, window_class=WINDOW_CLASS):
        """The session's window of the class (on Wayland the app id) whose
        title is exactly `title`; titles are compared here, since xdotool's
        --name search does not match Japanese titles."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for window, name in self.windows(window_class):
                if name == title:
                    return window
            time.sleep(0.05)
        raise AssertionError(f"no window {title!r} of class {window_class} within {timeout}s; "
                             f"have {self.windows(window_class)}")

    def hold(self, key, seconds):
        """Holds the key for the given time (key_down and key_up are the
        session's); per-frame polling needs at least 0.1 s."""
        self.key_down(key)
        try:
            time.sleep(seconds)
        finally:
            self.key_up(key)

    @staticmethod
    def _wait_for(predicate, timeout, message):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate():
                return
            time.sleep(0.05)
        raise AssertionError(message)

    def wait_until(self, predicate, timeout=5, message="condition not met"):
        self._wait_for(predicate, timeout, message)


class XSession(ProgramSession):
    def __init__(self, width=1280, height=1024, window_manager=True):
        super().__init__(width, height)
        self.window_manager = window_manager

    # --- lifetime ---
    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="tovalinex-x-")
        runtime = os.path.join(self.root, "run")
        os.mkdir(runtime, 0o700)
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-noreset", "-nolisten", "tcp",
             "-screen", "0", f"{self.width}x{self.height}x24"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not start")
                number += chunk
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ)
        self.env.update(DISPLAY=self.display, XDG_RUNTIME_DIR=runtime,
                        XDG_CONFIG_HOME=os.path.join(self.root, "config"), HOME=self.root)
        self.env.pop("WAYLAND_DISPLAY", None)
        if self.window_manager:
            self.openbox = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self._wait_for(lambda: self._run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]).find("window id") >= 0,
                           10, "openbox did not start")
            # The first synthetic key switches the server's core keyboard to the
            # XTEST device, which sends every client a MappingNotify; openbox then
            # drops and re-grabs its bindings, and a key arriving meanwhile (often
            # the first Alt+F4) goes to the focused program instead. One key now,
            # before any program runs, and a moment for the re-grab, takes that
            # race away.
            self._run(["xdotool", "key", "shift"], check=True)
            time.sleep(0.2)
        return self

    def __exit__(self, *exc):
        self._stop_programs()
        if self.window_manager:
            self.openbox.kill()
            self.openbox.wait()
        self.xvfb.kill()
        self.xvfb.wait()
        shutil.rmtree(self.root, ignore_errors=True)
        return False

    # --- windows ---
    def windows(self, window_class=WINDOW_CLASS):
        """Visible top-level windows of the class, as (id, title)."""
        ids = self._run(["xdotool", "search", "--onlyvisible", "--class", window_class]).split()
        found = []
        for window in ids:
            name = self._run(["xdotool", "getwindowname", window]).rstrip("\n")
            found.append((int(window), name))
        return found

    def window_class(self, window):
        return self._run(["xprop", "-id", str(window), "WM_CLASS"]).strip()

    def geometry(self, window):
        """(x, y, width, height) of the window's client area on the screen."""
        values = {}
        for line in self._run(["xdotool", "getwindowgeometry", "--shell", str(window)]).split():
            key, _, value = line.partition("=")
            values[key] = int(value) if value.lstrip("-").isdigit() else value
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]

    def active_window(self):
        out = self._run(["xdotool", "getactivewindow"]).strip()
        return int(out) if out else None

    def activate(self, window):
        self._run(["xdotool", "windowactivate", "--sync", str(window)])
        self._wait_for(lambda: self.active_window() == window, 5, f"window {window} did not become active")

    def minimize(self, window):
        self._run(["xdotool", "windowminimize", "--sync", str(window)])

    def close(self, window):
        """Closes the window as a user does, through the window manager (Alt+F4)."""
        self.activate(window)
        self._run(["xdotool", "key", "--clearmodifiers", "alt+F4"])

    def capture(self, window):
        data = subprocess.run(["xwd", "-silent", "-id", str(window)], env=self.env,
                              capture_output=True, timeout=30, check=True).stdout
        return parse_xwd(data)

    # --- keys ---
    def key_down(self, key):
        self._run(["xdotool", "keydown", key], check=True)

    def key_up(self, key):
        self._run(["xdotool", "keyup", key], check=True)
