"""The single instance under stress: simultaneous starts, a first copy killed
with SIGKILL, stopped or closing, peers on the instance socket that send
garbage or nothing, its files removed or squatted, and another local user."""

import os
import shutil
import signal
import socket
import subprocess
import sys
import time
import unittest

from reliability_support import (TITLES, cpu_seconds, instance_socket, intervals_ms,
                                 presents, probed_env)
from xsession import XSession

PROGRAM = "free_move"
TITLE = TITLES[PROGRAM]
STARTS = 20
ROUNDS = int(os.environ.get("TOVALINEX_STARTS_ROUNDS", "3"))
EXIT_NO_ANSWER = 9
NOBODY = 65534

# Run as another user: holds an instance name (abstract names start with "@"
# here), listening or not, until killed.
SQUATTER = """
import socket, sys, time
holder = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
holder.bind("\\0" + sys.argv[1][1:])
if sys.argv[2] == "listen":
    holder.listen(1)
print("holding", flush=True)
time.sleep(60)
"""
# Run as another user: asks the copy to come forward, prints what it answers.
ASKER = """
import socket, sys
peer = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
peer.connect("\\0" + sys.argv[1][1:])
peer.sendall(b"activate\\n")
peer.settimeout(1.0)
try:
    print(repr(peer.recv(16)))
except (socket.timeout, ConnectionError) as error:
    print(type(error).__name__)
"""


class SingleInstanceStress(unittest.TestCase):
    def setUp(self):
        self.x = XSession().__enter__()

    def tearDown(self):
        self.x.__exit__(None, None, None)

    def titled_windows(self):
        return [window for window, name in self.x.windows() if name == TITLE]

    def test_twenty_simultaneous_starts_leave_one_window(self):
        for round_number in range(ROUNDS):
            copies = [self.x.start(PROGRAM) for _ in range(STARTS)]
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline and sum(c.poll() is None for c in copies) > 1:
                time.sleep(0.05)
            running = [c for c in copies if c.poll() is None]
            self.assertEqual(len(running), 1, f"round {round_number}: {len(running)} copies still run")
            for copy in copies:
                if copy is not running[0]:
                    self.assertEqual(copy.returncode, 0, self.x.error_output(copy))
            self.x.wait_window(TITLE)
            time.sleep(0.5)  # a second window would have appeared by now
            self.assertEqual(len(self.titled_windows()), 1, f"round {round_number}")
            running[0].kill()
            running[0].wait()
            self.x.wait_until(lambda: not self.titled_windows(), 5, "window of the killed copy stayed")

    def test_after_sigkill_the_next_start_opens_at_once(self):
        first = self.x.start(PROGRAM)
        self.x.wait_window(TITLE)
        os.kill(first.pid, signal.SIGKILL)
        first.wait()
        self.x.wait_until(lambda: not self.titled_windows(), 5, "window of the killed copy stayed")
        started = time.monotonic()
        second = self.x.start(PROGRAM)
        self.x.wait_window(TITLE, timeout=5)
        opened = time.monotonic() - started
        print(f"window {opened * 1000:.0f} ms after the start that followed kill -9", flush=True)
        # The lock died with the first copy, so nothing waits for it.
        self.assertLess(opened, 2.0)
        self.assertIsNone(second.poll())
        # And it is the first copy now: a further start is sent away.
        third = self.x.start(PROGRAM)
        self.assertEqual(self.x.wait_exit(third, 10), 0)
        self.assertEqual(len(self.titled_windows()), 1)

    def test_each_display_has_its_own_copy(self):
        # The same user on a second X server (another seat, a remote session):
        # a start there opens its own window instead of raising the one here.
        first = self.x.start(PROGRAM)
        self.x.wait_window(TITLE)
        with XSession() as other:
            env = dict(other.env, XDG_RUNTIME_DIR=self.x.env["XDG_RUNTIME_DIR"])
            there = other.start(PROGRAM, env=env)
            other.wait_window(TITLE, timeout=5)
            self.assertIsNone(there.poll(), other.error_output(there))
            # Within each display the guard holds, and ":N.0" is the same display as ":N".
            for session, display in ((self.x, self.x.display), (other, other.display + ".0")):
                again = session.start(PROGRAM, env=dict(env, DISPLAY=display))
                self.assertEqual(session.wait_exit(again, 10), 0, session.error_output(again))
                self.assertEqual(len(session.windows()), 1)
            self.assertIsNone(there.poll())
        self.assertIsNone(first.poll())

    def test_a_stopped_copy_is_reported_never_handed_over(self):
        # Ctrl+Z in a terminal: the copy holds the instance but answers nothing.
        # Each later start ends in bounded time with a message, not exit 0 as if
        # it had handed over, and opens no window; none waits for a full backlog.
        first = self.x.start(PROGRAM)
        self.x.wait_window(TITLE)
        os.kill(first.pid, signal.SIGSTOP)
        try:
            started = time.monotonic()
            later = [self.x.start(PROGRAM) for _ in range(12)]
            for copy in later:
                try:
                    code = copy.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    self.fail("a start waits for ever on the stopped copy")
                errors = self.x.error_output(copy)
                self.assertEqual(code, EXIT_NO_ANSWER, errors)
                self.assertIn("does not answer", errors)
            took = time.monotonic() - started
            print(f"12 starts against a stopped copy ended after {took:.2f} s", flush=True)
            self.assertLess(took, 6.0)
            self.assertEqual(len(self.titled_windows()), 1)
        finally:
            os.kill(first.pid, signal.SIGCONT)
        # Continued, it serves later starts again.
        again = self.x.start(PROGRAM)
        self.assertEqual(self.x.wait_exit(again, 10), 0, self.x.error_output(again))
        self.assertIsNone(first.poll())

    def test_a_start_while_the_copy_closes_takes_over(self):
        # A copy that is closing (here slow to, by a second) no longer takes a
        # hand-over, so a start in that moment opens its own window.
        first = self.x.start(PROGRAM, env=probed_env(self.x, TOVALINEX_PROBE_SLOW_CLOSE=1000))
        window = self.x.wait_window(TITLE)
        self.x.close(window)

        def listening():
            try:
                return bool(instance_socket(first.pid))
            except (AssertionError, OSError):
                return False

        # Until the close has reached the copy; a copy that kept listening
        # while it closes is given the same time.
        deadline = time.monotonic() + 0.8
        while time.monotonic() < deadline and listening():
            time.sleep(0.01)
        self.assertIsNone(first.poll(), "the close was not slow")
        second = self.x.start(PROGRAM)
        self.assertEqual(self.x.wait_exit(first, 10), 0)
        self.x.wait_window(TITLE, timeout=5)
        self.assertIsNone(second.poll(), self.x.error_output(second))
        # It is the first copy now.
        third = self.x.start(PROGRAM)
        self.assertEqual(self.x.wait_exit(third, 10), 0)
        self.assertEqual(len(self.titled_windows()), 1)

    def assertGuardHolds(self, env, spoil=None):
        """A first copy, `spoil` while it runs, then a later start hands over to it."""
        first = self.x.start(PROGRAM, env=env)
        self.x.wait_window(TITLE)
        if spoil:
            spoil()
        later = self.x.start(PROGRAM, env=env)
        self.assertEqual(self.x.wait_exit(later, 10), 0, self.x.error_output(later))
        time.sleep(0.3)
        self.assertEqual(len(self.titled_windows()), 1)
        self.assertNotIn("tovalinex:", self.x.error_output(first))
        first.kill()
        first.wait()
        self.x.wait_until(lambda: not self.titled_windows(), 5, "window of the killed copy stayed")

    def test_the_guard_holds_whatever_is_done_to_files(self):
        runtime = self.x.env["XDG_RUNTIME_DIR"]

        def remove_everything():
            # As a temporary-file cleaner would.
            for name in os.listdir(runtime):
                path = os.path.join(runtime, name)
                shutil.rmtree(path) if os.path.isdir(path) else os.unlink(path)

        self.assertGuardHolds(self.x.env, remove_everything)
        # Without a runtime directory, another user's squat on the fallback
        # name in /tmp (a directory open to all, or a symlink) changes nothing.
        fallback = f"/tmp/tovalinex-{os.getuid()}"
        if os.path.lexists(fallback):
            self.skipTest(f"{fallback} exists on this machine")
        env = dict(self.x.env)
        del env["XDG_RUNTIME_DIR"]
        try:
            os.mkdir(fallback)
            os.chmod(fallback, 0o777)
            os.chown(fallback, NOBODY, NOBODY)
            self.assertGuardHolds(env)
            os.rmdir(fallback)
            os.symlink(runtime, fallback)
            self.assertGuardHolds(env)
        finally:
            if os.path.islink(fallback) or os.path.isfile(fallback):
                os.unlink(fallback)
            elif os.path.isdir(fallback):
                shutil.rmtree(fallback)

    def as_nobody(self, script, *args):
        if os.getuid() != 0:
            self.skipTest("needs root to act as another user")
        # The system's Python: one under root's home is out of another user's reach.
        python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
        return subprocess.Popen([python, "-c", script, *args], user=NOBODY, group=NOBODY,
                                extra_groups=[], stdout=subprocess.PIPE, text=True)

    def test_another_user_neither_switches_off_nor_raises_the_copy(self):
        program = self.x.start(PROGRAM)
        window = self.x.wait_window(TITLE)
        name = instance_socket(program.pid)
        self.assertTrue(name.startswith("\0"), f"the instance is a file: {name}")
        name = "@" + name[1:]
        # A request from another user is not served: no answer, not raised.
        other = self.x.start("/usr/bin/xmessage", "another application")
        self.x.wait_until(lambda: self.x.windows("Xmessage"), 5, "xmessage did not open")
        other_window = self.x.windows("Xmessage")[0][0]
        self.x.activate(other_window)
        asker = self.as_nobody(ASKER, name)
        self.assertNotIn("ok", asker.communicate(timeout=10)[0])
        time.sleep(0.3)
        self.assertEqual(self.x.active_window(), other_window)
        other.kill()
        program.kill()
        program.wait()
        self.x.wait_until(lambda: not self.titled_windows(), 5, "window of the killed copy stayed")
        # Another user holding the name, listening or not: the start says once
        # that it runs without the guard, and runs.
        for mode in ("listen", "bind"):
            with self.subTest(squatter=mode):
                squatter = self.as_nobody(SQUATTER, name, mode)
                try:
                    self.assertEqual(squatter.stdout.readline().strip(), "holding")
                    started = time.monotonic()
                    copy = self.x.start(PROGRAM)
                    self.x.wait_window(TITLE, timeout=5)
                    print(f"window {time.monotonic() - started:.2f} s after a start whose "
                          f"name another user holds ({mode})", flush=True)
                    self.assertIsNone(copy.poll())
                    lines = [line for line in self.x.error_output(copy).splitlines()
                             if line.startswith("tovalinex:")]
                    self.assertEqual(len(lines), 1, lines)
                    self.assertIn("another user", lines[0])
                    copy.kill()
                    copy.wait()
                    self.x.wait_until(lambda: not self.titled_windows(), 5, "window stayed")
                finally:
                    squatter.kill()
                    squatter.communicate()

    def start_probed(self):
        log = os.path.join(self.x.root, "presents")
        program = self.x.start(PROGRAM, env=probed_env(self.x, log))
        window = self.x.wait_window(TITLE)
        self.x.activate(window)
        time.sleep(1.0)
        return program, window, log

    @staticmethod
    def bad_peers(path):
        """Peers that send garbage (short, long, near misses) or nothing at all."""
        garbage = [b"\x00", b"activat", b"ACTIVATE\n", b"activate!", b"x" * 65536,
                   bytes(range(256)) * 8, b"\nactivate\n", b"activate\r\n"]
        peers = []

        def connect():
            # The copy accepts once a pass, so a full backlog makes us wait a
            # moment; one that stopped accepting would make us wait forever,
            # which is a failure, not a reason to hang.
            deadline = time.monotonic() + 2.0
            while True:
                peer = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                peer.setblocking(False)
                try:
                    peer.connect(path)
                    return peer
                except BlockingIOError:
                    peer.close()
                    if time.monotonic() > deadline:
                        raise AssertionError("the first copy no longer accepts peers")
                    time.sleep(0.005)

        for payload in garbage:
            peer = connect()
            try:
                peer.send(payload)
            except BlockingIOError:
                pass  # the copy reads only what it needs: the rest may stay unsent
            peers.append(peer)
        for _ in range(12):
            peers.append(connect())
        return peers

    def frames_between(self, log, start_ns, end_ns):
        return [ns for ns, _ in presents(log) if start_ns <= ns < end_ns]

    def test_bad_peers_change_nothing_and_cost_no_frame(self):
        program, window, log = self.start_probed()
        before = self.x.capture(window).pixels
        path = instance_socket(program.pid)
        # Two seconds without peers, then two with twenty bad ones.
        quiet_start = time.monotonic_ns()
        time.sleep(2.0)
        busy_start = time.monotonic_ns()
        peers = self.bad_peers(path)
        time.sleep(2.0)
        busy_end = time.monotonic_ns()
        for peer in peers:
            peer.close()
        time.sleep(0.2)
        quiet = self.frames_between(log, quiet_start, busy_start)
        busy = self.frames_between(log, busy_start, busy_end)
        longest = max(intervals_ms(busy))
        print(f"frames in 2 s: {len(quiet)} without peers, {len(busy)} with {len(peers)} bad peers; "
              f"longest interval {max(intervals_ms(quiet)):.2f} ms without, {longest:.2f} ms with",
              flush=True)
        # A read that waited on a silent peer would stall the loop for its
        # whole patience (a second) and lose some 60 frames; scheduling noise
        # on a busy machine costs a frame or two at most.
        self.assertGreaterEqual(len(busy), len(quiet) - 3)
        self.assertLess(longest, 250)
        self.assertIsNone(program.poll(), self.x.error_output(program))
        self.assertEqual(self.x.capture(window).pixels, before)
        self.assertEqual(len(self.titled_windows()), 1)
        # The socket still serves a real second start.
        second = self.x.start(PROGRAM)
        self.assertEqual(self.x.wait_exit(second, 10), 0)
        self.assertIsNone(program.poll())

    def test_bad_peers_neither_raise_nor_wake_an_inactive_copy(self):
        program, window, log = self.start_probed()
        other = self.x.start("/usr/bin/xmessage", "another application")
        self.x.wait_until(lambda: self.x.windows("Xmessage"), 5, "xmessage did not open")
        other_window = self.x.windows("Xmessage")[0][0]
        self.x.activate(other_window)
        time.sleep(0.5)
        frames = len(presents(log))
        cpu = cpu_seconds(program.pid)
        peers = self.bad_peers(instance_socket(program.pid))
        time.sleep(2.0)
        for peer in peers:
            peer.close()
        self.assertEqual(self.x.active_window(), other_window)
        self.assertLessEqual(len(presents(log)) - frames, 1)  # at most a repaint, no frames
        self.assertLess(cpu_seconds(program.pid) - cpu, 0.2)
        # The same socket with the real request does bring the copy forward.
        good = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        good.connect(instance_socket(program.pid))
        good.sendall(b"activate\n")
        good.close()
        self.x.wait_until(lambda: self.x.active_window() == window, 5, "not raised by a real request")


if __name__ == "__main__":
    unittest.main()
