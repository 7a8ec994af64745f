"""What the reliability window tests share on top of xsession.XSession: the
programs and their titles, the preloaded probe that logs every present, and
the few measurements taken of a running program."""

import os
import random
import time

from xsession import BIN_DIR, TITLES

KEYS = ["Left", "Up", "Right", "Down", "space"]
PERIOD_MS = 1000 / 60
PROBE = os.environ.get("TOVALINEX_PROBE", "")


def built_programs():
    return [name for name in TITLES if os.path.exists(os.path.join(BIN_DIR, name))]


def probed_env(session, log=None, **extra):
    """The session's environment with the probe preloaded."""
    if not PROBE or not os.path.exists(PROBE):
        raise AssertionError(f"the probe library is missing (TOVALINEX_PROBE={PROBE!r})")
    env = dict(session.env, LD_PRELOAD=PROBE)
    if log:
        env["TOVALINEX_PROBE_LOG"] = log
    env.update({key: str(value) for key, value in extra.items()})
    return env


UNCHECKED, MIXED = -2, -1


def presents(log):
    """(nanoseconds, uniform colour) of every present logged so far; the colour
    is that of a picture all of one colour, MIXED for any other picture, and
    UNCHECKED after the first few presents."""
    if not os.path.exists(log):
        return []
    with open(log) as lines:
        return [(int(ns), int(colour))
                for ns, colour in (line.split() for line in lines if line.endswith("\n"))]


def intervals_ms(times_ns):
    return [(later - earlier) / 1e6 for earlier, later in zip(times_ns, times_ns[1:])]


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def instance_socket(pid):
    """The address the running copy `pid` listens on, as socket.connect takes
    it (an abstract name begins with a NUL byte)."""
    inodes = set()
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    found = []
    with open("/proc/net/unix") as table:
        next(table)
        for line in table:
            fields = line.split(maxsplit=7)
            listening = int(fields[3], 16) & 0x10000
            if len(fields) == 8 and listening and fields[6] in inodes:
                path = fields[7].rstrip("\n")
                found.append("\0" + path[1:] if path.startswith("@") else path)
    if len(found) != 1:
        raise AssertionError(f"expected one listening socket of process {pid}, found {found}")
    return found[0]


def hold_random_keys(session, seconds, seed, on_tick=None):
    """Holds random sets of keys for random spells of 0.1 to 0.5 s, for the
    given time; on_tick is called between spells. All keys are up at the end."""
    chooser = random.Random(seed)
    held = set()
    deadline = time.monotonic() + seconds
    try:
        while time.monotonic() < deadline:
            wanted = {key for key in KEYS if chooser.random() < 0.4}
            for key in held - wanted:
                session.key_up(key)
            for key in wanted - held:
                session.key_down(key)
            held = wanted
            time.sleep(chooser.uniform(0.1, 0.5))
            if on_tick:
                on_tick()
    finally:
        for key in held:
            session.key_up(key)
