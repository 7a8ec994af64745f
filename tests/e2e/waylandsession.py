"""A private Wayland session for end-to-end tests of the real windows.

WaylandSession starts a headless sway (wlroots' headless back end and pixman
renderer, no Xwayland, one 1024x768 output) as an unprivileged user, since
sway refuses to run as root, with a runtime directory of its own (mode 700).
The programs run as this process's user with a private XDG_RUNTIME_DIR of
their own and reach the compositor by the absolute path of its socket in
WAYLAND_DISPLAY. A virtual keyboard client (tovalinex_wayland_keyboard) stays
on the seat for the whole session: without a keyboard no client gets the
keyboard focus, and a keyboard that comes and goes would take the focus
away each time. The session offers what a player does: start a program,
find its window, look at it (grim), hold keys, switch to another window
(foot), start a program again from a launcher, close it.
"""

import glob
import json
import os
import select
import shutil
import subprocess
import tempfile
import time

from xsession import BIN_DIR, WINDOW_CLASS, Picture, ProgramSession

COMPOSITOR_USER = 65534  # nobody
KEYBOARD = os.path.join(BIN_DIR, "tovalinex_wayland_keyboard")
OTHER_APP_ID = "tovalinex-test-other"


def parse_ppm(data):
    """Decodes the binary PPM (P6, 8 bits) that grim writes."""
    fields = []
    position = 0
    while len(fields) < 4:
        while data[position:position + 1].isspace():
            position += 1
        end = position
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[position:end])
        position = end
    position += 1  # the single whitespace byte after the maximum value
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError(f"unsupported PPM header {fields}")
    width, height = int(fields[1]), int(fields[2])
    raw = data[position:position + width * height * 3]
    pixels = [raw[i] << 16 | raw[i + 1] << 8 | raw[i + 2] for i in range(0, len(raw), 3)]
    return Picture(width, height, pixels)


def _views(node):
    """Every client window (view) in a sway tree, tiled or floating."""
    if "shell" in node:
        yield node
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        yield from _views(child)


class WaylandSession(ProgramSession):
    def __init__(self, width=1024, height=768, activation="smart"):
        super().__init__(width, height)
        # sway's answer to a window asking for the focus with an activation
        # token: "smart" (focus it when its workspace is visible) or the
        # default "urgent" (only mark it urgent).
        self.activation = activation
        self.sway = None
        self.keyboard = None

    # --- lifetime ---
    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        self.root = tempfile.mkdtemp(prefix="tovalinex-wl-")
        # The compositor's user may pass through, to its own directory only.
        os.chmod(self.root, 0o711)
        compositor_home = os.path.join(self.root, "compositor")
        compositor_runtime = os.path.join(compositor_home, "run")
        for directory in (compositor_home, compositor_runtime):
            os.mkdir(directory, 0o700)
            os.chown(directory, COMPOSITOR_USER, COMPOSITOR_USER)
        config = os.path.join(self.root, "sway.conf")
        with open(config, "w") as out:
            out.write("xwayland disable\n"
                      f"output HEADLESS-1 resolution {self.width}x{self.height} position 0 0\n"
                      f"focus_on_window_activation {self.activation}\n")
        os.chmod(config, 0o644)
        self.sway_log = open(os.path.join(self.root, "sway.log"), "w")
        self.sway = subprocess.Popen(
            ["setpriv", f"--reuid={COMPOSITOR_USER}", f"--regid={COMPOSITOR_USER}", "--clear-groups",
             "sway", "--config", config],
            env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": compositor_home,
                 "XDG_RUNTIME_DIR": compositor_runtime, "WLR_BACKENDS": "headless",
                 "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman"},
            stdin=subprocess.DEVNULL, stdout=self.sway_log, stderr=subprocess.STDOUT)
        self.env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_ACTIVATION_TOKEN", "SDL_VIDEODRIVER",
                     "DBUS_SESSION_BUS_ADDRESS"):
            self.env.pop(name, None)
        runtime = os.path.join(self.root, "run")
        os.mkdir(runtime, 0o700)
        self.env.update(XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(self.root, "config"),
                        HOME=self.root)

        def sockets():
            if self.sway.poll() is not None:
                raise RuntimeError(f"sway exited with {self.sway.returncode}; see {self.sway_log.name}")
            displays = [path for path in glob.glob(os.path.join(compositor_runtime, "wayland-*"))
                        if not path.endswith(".lock")]
            ipc = glob.glob(os.path.join(compositor_runtime, "sway-ipc.*.sock"))
            if not displays or not ipc:
                return False
            self.env.update(WAYLAND_DISPLAY=displays[0], SWAYSOCK=ipc[0])
            return subprocess.run(["swaymsg", "-t", "get_version"], env=self.env,
                                  capture_output=True).returncode == 0

        self._wait_for(sockets, 10, "sway did not start")
        self.keyboard = subprocess.Popen([KEYBOARD], env=self.env, stdin=subprocess.PIPE,
                                         stdout=subprocess.PIPE, text=True)
        if self._answer(5) != "ready":
            raise RuntimeError("the virtual keyboard did not start")

    def __exit__(self, *exc):
        self._stop_programs()
        if self.keyboard:
            self.keyboard.kill()
            self.keyboard.wait()
            self.keyboard.stdin.close()
            self.keyboard.stdout.close()
        if self.sway:
            self.sway.terminate()
            try:
                self.sway.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.sway.kill()
                self.sway.wait()
            self.sway_log.close()
        shutil.rmtree(self.root, ignore_errors=True)
        return False

    # --- the compositor ---
    def command(self, text):
        """Runs a sway command, as a key binding or swaymsg of the player would."""
        replies = json.loads(subprocess.run(["swaymsg", "--raw", text], env=self.env, capture_output=True,
                                            text=True, timeout=30).stdout)
        if not all(reply.get("success") for reply in replies):
            raise RuntimeError(f"sway refused {text!r}: {replies}")

    def views(self):
        return list(_views(json.loads(self._run(["swaymsg", "-t", "get_tree", "--raw"], check=True))))

    def view(self, window):
        """sway's record of one window: name, app_id, pid, rect, window_rect,
        type (con or floating_con), focused, urgent, idle_inhibitors..."""
        for node in self.views():
            if node["id"] == window:
                return node
        raise AssertionError(f"no window {window}")

    def windows(self, app_id=WINDOW_CLASS):
        """Mapped windows with the app id, as (id, title)."""
        return [(node["id"], node["name"]) for node in self.views() if node.get("app_id") == app_id]

    def frame_geometry(self, window):
        """(x, y, width, height) of the area sway gives the window inside its frame."""
        node = self.view(window)
        rect, inner = node["rect"], node["window_rect"]
        return rect["x"] + inner["x"], rect["y"] + inner["y"], inner["width"], inner["height"]

    def geometry(self, window):
        """(x, y, width, height) of what shows of the window's own surface: sway
        centres a surface smaller than its area and crops a larger one."""
        x, y, width, height = self.frame_geometry(window)
        own = self.view(window)["geometry"]
        return (x + max(0, (width - own["width"]) // 2), y + max(0, (height - own["height"]) // 2),
                min(width, own["width"]), min(height, own["height"]))

    def focused_window(self):
        return next((node["id"] for node in self.views() if node["focused"]), None)

    def focus(self, window):
        self.command(f"[con_id={window}] focus")
        self._wait_for(lambda: self.focused_window() == window, 5, f"window {window} did not get the focus")

    def resize(self, window, width, height):
        self.command(f"[con_id={window}] resize set width {width} px height {height} px")

    def close(self, window):
        """Asks the window to close, as the compositor's close binding does."""
        self.command(f"[con_id={window}] kill")

    def open_other_window(self):
        """Another application's window (a terminal), which takes the focus;
        (process, window)."""
        process = self.start("/usr/bin/foot", "--app-id", OTHER_APP_ID, "sleep", "600")
        self._wait_for(lambda: self.windows(OTHER_APP_ID), 10, "foot did not open")
        return process, self.windows(OTHER_APP_ID)[0][0]

    def capture(self, window, whole_frame=False):
        """The window's picture as it shows, or with whole_frame all of the area inside its frame."""
        x, y, width, height = (self.frame_geometry if whole_frame else self.geometry)(window)
        data = subprocess.run(["grim", "-t", "ppm", "-g", f"{x},{y} {width}x{height}", "-"],
                              env=self.env, capture_output=True, timeout=30, check=True).stdout
        return parse_ppm(data)

    def capture_output(self, path):
        """The whole output as a PNG file, for a person to look at."""
        subprocess.run(["grim", path], env=self.env, capture_output=True, timeout=30, check=True)

    # --- the keyboard and the launcher ---
    def _answer(self, timeout):
        ready, _, _ = select.select([self.keyboard.stdout], [], [], timeout)
        if not ready:
            raise AssertionError("the virtual keyboard did not answer")
        return self.keyboard.stdout.readline().strip()

    def _keyboard(self, line):
        self.keyboard.stdin.write(line + "\n")
        self.keyboard.stdin.flush()
        return self._answer(5)

    def key_down(self, key):
        if self._keyboard(f"down {key}") != "ok":
            raise RuntimeError(f"key {key} not pressed")

    def key_up(self, key):
        if self._keyboard(f"up {key}") != "ok":
            raise RuntimeError(f"key {key} not released")

    def activation_token(self):
        """A fresh activation token, as a launcher hands to what it starts."""
        answer = self._keyboard("token")
        if not answer.startswith("token "):
            raise RuntimeError(f"no activation token: {answer}")
        return answer.split(" ", 1)[1]
