"""The Windows programs under Wine, inside the X session of tests/e2e/xsession.py.

WineSession adds to an XSession what Wine needs to show these programs as a
Japanese Windows would: a fresh 64-bit prefix, a ja_JP.UTF-8 locale made into
a private LOCPATH (without it Wine's ANSI code page is 1252 and every
Shift-JIS caption comes out garbled), a fontconfig that shows Wine only
IPAGothic, and the registry replacement of "ＭＳ ゴシック" by IPAGothic, so
that text comes out in 8x16 and 16x16 cells. Every Wine command runs under
`timeout`; programs are closed through the window manager (Alt+F4), never by
destroying their X window, which leaves Wine hanging.
"""

import os
import subprocess
import time

from xsession import BIN_DIR, XSession

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
FONT_FACE = "ＭＳ ゴシック"
FONT_FAMILY = "IPAGothic"
FONT_PACKAGE_PATHS = (
    "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
    "/usr/share/fonts/truetype/ipafont-gothic/ipag.ttf",
)
WINE_TIMEOUT = 120  # seconds any one Wine command may take
PROGRAM_TIMEOUT = 300  # seconds a started program may live at most


def run(command, timeout, **options):
    """Runs a command to its end; raises with its output when it fails."""
    result = subprocess.run(command, capture_output=True, timeout=timeout + 10, **options)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} exited {result.returncode}:\n"
                           f"{result.stdout.decode(errors='replace')}{result.stderr.decode(errors='replace')}")
    return result


def cross_build():
    """Configures the mingw preset into the test's own build directory next to
    the Linux build, builds it, and returns the directory of the .exe files."""
    binary_dir = os.path.join(os.path.dirname(os.path.abspath(BIN_DIR)), "mingw")
    run(["cmake", "--preset", "mingw", "-S", SOURCE_DIR, "-B", binary_dir], 300, cwd=SOURCE_DIR)
    run(["cmake", "--build", binary_dir, "-j2"], 600)
    return os.path.join(binary_dir, "bin")


def build_probe(directory):
    """Compiles WindowProbe.cpp, a Windows console program that looks at a
    window from inside Wine; returns the path of the .exe."""
    exe = os.path.join(directory, "window_probe.exe")
    run(["x86_64-w64-mingw32-g++", "-std=c++17", "-O1", "-Wall", "-Wextra", "-static", "-mconsole",
         os.path.join(os.path.dirname(os.path.abspath(__file__)), "WindowProbe.cpp"),
         "-o", exe, "-luser32", "-lgdi32"], 120)
    return exe


def find_font_file():
    """IPAGothic's file, as fontconfig knows it or at the Debian package's path."""
    try:
        result = subprocess.run(["fc-match", "-f", "%{family}\n%{file}", FONT_FAMILY],
                                capture_output=True, text=True, timeout=30)
        lines = result.stdout.splitlines()
        if result.returncode == 0 and len(lines) == 2 and FONT_FAMILY in lines[0].split(","):
            return lines[1]
    except FileNotFoundError:
        pass  # no fc-match: the package's own path still does
    for path in FONT_PACKAGE_PATHS:
        if os.path.exists(path):
            return path
    raise RuntimeError("IPAGothic not found: install fonts-ipafont-gothic")


def registry_file(path, keys):
    """Writes a .reg file (UTF-16 with BOM, as regedit expects) of string values."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in keys.items():
        lines.append(f"[{key}]")
        for name, value in values.items():
            lines.append(f'"{name}"="{value}"')
        lines.append("")
    with open(path, "w", encoding="utf-16") as out:
        out.write("\r\n".join(lines) + "\r\n")


class WineSession:
    """An XSession with a prepared Wine prefix. Use as a context manager."""

    def __init__(self):
        # Wide enough for two centred windows to be set side by side: X keeps
        # no pixels of a covered window, so a covered one cannot be looked at.
        self.x = XSession(width=2048, height=1024)
        self.env = None
        self.times = {}

    def __enter__(self):
        self.x.__enter__()
        try:
            self._prepare()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        try:
            if self.env:
                subprocess.run(["timeout", "30", "wineserver", "-k"], env=self.env,
                               capture_output=True, timeout=40)
        finally:
            self.x.__exit__(*exc)
        return False

    def _prepare(self):
        root = self.x.root
        started = time.monotonic()
        locales = os.path.join(root, "locale")
        os.mkdir(locales)
        run(["localedef", "-i", "ja_JP", "-f", "UTF-8", os.path.join(locales, "ja_JP.UTF-8")], 60)

        fonts = os.path.join(root, "fonts")
        os.mkdir(fonts)
        os.symlink(find_font_file(), os.path.join(fonts, "ipag.ttf"))
        fonts_conf = os.path.join(root, "fonts.conf")
        with open(fonts_conf, "w") as out:
            out.write('<?xml version="1.0"?>\n<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">\n'
                      f"<fontconfig>\n  <dir>{fonts}</dir>\n"
                      f"  <cachedir>{os.path.join(root, 'fontcache')}</cachedir>\n</fontconfig>\n")

        env = dict(self.x.env)
        env.update(WINEPREFIX=os.path.join(root, "prefix"), WINEARCH="win64", WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d",
                   LOCPATH=locales, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8",
                   FONTCONFIG_FILE=fonts_conf)
        env.pop("LANGUAGE", None)
        self.env = env
        self.times["locale and fonts"] = time.monotonic() - started

        started = time.monotonic()
        self.wine("wineboot", "--init")
        self.times["wineboot"] = time.monotonic() - started

        started = time.monotonic()
        reg = os.path.join(root, "tovalinex.reg")
        registry_file(reg, {r"HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements": {FONT_FACE: FONT_FAMILY}})
        self.wine("reg", "import", reg)
        self.times["registry"] = time.monotonic() - started

    def wine(self, *args, timeout=WINE_TIMEOUT):
        """Runs a Wine command to its end."""
        return run(["timeout", str(timeout), "wine", *args], timeout, env=self.env)

    # --- programs ---
    def start(self, exe):
        """Starts an .exe; the process is `timeout`, whose exit code is the program's."""
        return self.x.start("/usr/bin/timeout", str(PROGRAM_TIMEOUT), "wine", exe, env=self.env)

    def probe(self, probe_exe, title):
        """What the probe prints about the window with that title, as a dict."""
        result = subprocess.run(["timeout", "60", "wine", probe_exe, title.encode("cp932").hex()],
                                env=self.env, capture_output=True, text=True, timeout=70)
        values = dict(line.strip().split("=", 1) for line in result.stdout.splitlines() if "=" in line)
        values["exit"] = result.returncode
        return values

    def run_to_end(self, exe, timeout=60):
        """Starts an .exe and waits for it; returns its exit code."""
        process = self.x.start("/usr/bin/timeout", str(timeout), "wine", exe, env=self.env)
        return process.wait(timeout=timeout + 10)

    @staticmethod
    def window_class(exe):
        """Wine names the X class of a program's windows after its executable."""
        return os.path.basename(exe)

    def wait_window(self, exe, title, timeout=30):
        return self.x.wait_window(title, timeout=timeout, window_class=self.window_class(exe))

    def windows(self, exe):
        return self.x.windows(self.window_class(exe))

    def move(self, window, left, top):
        """Moves a window through the window manager and waits until it is there."""
        subprocess.run(["xdotool", "windowmove", "--sync", str(window), str(left), str(top)],
                       env=self.x.env, capture_output=True, timeout=30)
        self.x.wait_until(lambda: self.x.geometry(window)[0] < left + 50, 5, "window not moved")

    @staticmethod
    def cpu_seconds(process):
        """Processor time of the Windows program, the child of the `timeout` process."""
        ticks = None
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if int(fields[1]) == process.pid:
                ticks = (ticks or 0) + int(fields[11]) + int(fields[12])
        if ticks is None:
            raise AssertionError(f"the program under timeout (pid {process.pid}) is not running")
        return ticks / os.sysconf("SC_CLK_TCK")

    def cpu_over(self, process, seconds):
        before = self.cpu_seconds(process)
        time.sleep(seconds)
        return self.cpu_seconds(process) - before
