#!/usr/bin/env python3
"""Soak: each program's headless twin on seeded random keys, a short and a
long run with the same seed. Both must exit 0 with no sanitizer report (a
leak included), a repeat of the short run must leave the same picture, and
peak RSS must not grow with the frames: the long run's peak at its end must
be its peak at the point where the short run ended, and the two runs' peaks
must agree. Address-space randomisation is switched off for the runs, so
that the two processes lay out their memory alike.

    soak.py [--bin DIR] [--short N] [--long N] [--seed S] [PROGRAM ...]
"""

import argparse
import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import programs  # noqa: E402

PROGRAMS = programs.NAMES
# Peak RSS may wander by a few pages (allocator and sanitizer bookkeeping);
# growth with the number of frames is what must not happen.
RSS_TOLERANCE_KIB = 256
SANITIZER_MARKS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                   "SUMMARY: UndefinedBehaviorSanitizer")


def sanitized(binary):
    libraries = subprocess.run(["ldd", binary], capture_output=True, text=True).stdout
    return "libasan" in libraries


def peak_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def run(binary, frames, seed, png, warm_seconds=None):
    """Runs the twin; returns exit code, peak RSS in KiB, stderr, seconds and,
    when warm_seconds is given, the in-run peaks (once warm_seconds had passed,
    and near the end), or None if the run was too short to tell."""
    env = dict(os.environ)
    env.setdefault("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=1")
    env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
    command = [binary, "--frames", str(frames), "--random-keys", str(seed), "--time", "1700000000"]
    if png:
        command += ["--png", png]
    if shutil.which("setarch"):
        command = ["setarch", os.uname().machine, "--addr-no-randomize", *command]
    with tempfile.TemporaryFile("w+") as errors:
        start = time.monotonic()
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=errors, env=env)
        samples = []  # (seconds since start, peak RSS so far)
        while True:
            # Waiting without reaping would lose the child's resource usage.
            pid, status, usage = os.wait4(process.pid, 0 if warm_seconds is None else os.WNOHANG)
            if pid != 0:
                break
            peak = peak_kib(process.pid)
            if peak is not None:
                samples.append((time.monotonic() - start, peak))
            time.sleep(0.05)
        process.returncode = os.waitstatus_to_exitcode(status)
        seconds = time.monotonic() - start
        errors.seek(0)
        # Writing the picture and the leak check at exit take memory of their
        # own, so the in-run peaks are those sampled while frames still ran:
        # once the short run's time has passed, and up to a second before the end.
        in_run = None
        if warm_seconds is not None:
            warm = [peak for at, peak in samples if at >= warm_seconds]
            late = [peak for at, peak in samples if at <= seconds - 1.0]
            if warm and late and late[-1] >= warm[0]:
                in_run = (warm[0], late[-1])
        return process.returncode, usage.ru_maxrss, errors.read(), seconds, in_run


def soak(bin_dir, program, short, long, seed, scratch):
    binary = os.path.join(bin_dir, program + "-headless")
    problems = []
    results = {}
    # The replays write their pictures; the two measured runs do not, so that
    # their peaks are not those of writing a PNG at exit.
    for name, frames in (("replay", short), ("again", short), ("short", short), ("long", long)):
        png = os.path.join(scratch, f"{program}-{name}.png") if name in ("replay", "again") else None
        warm = results["short"]["seconds"] if name == "long" else None
        code, rss, errors, seconds, warm_peak = run(binary, frames, seed, png, warm)
        results[name] = {"rss": rss, "seconds": seconds, "warm": warm_peak}
        if code != 0:
            problems.append(f"{frames} frames: exit {code}")
        if any(mark in errors for mark in SANITIZER_MARKS):
            problems.append(f"{frames} frames: sanitizer report:\n{errors[-4000:]}")
    if not problems and not filecmp.cmp(os.path.join(scratch, f"{program}-replay.png"),
                                        os.path.join(scratch, f"{program}-again.png"),
                                        shallow=False):
        problems.append(f"seed {seed} did not replay: two {short}-frame runs left different pictures")
    between = results["long"]["rss"] - results["short"]["rss"]
    if between > RSS_TOLERANCE_KIB:
        problems.append(f"peak RSS {between} KiB higher after {long} frames than after {short}")
    warm = results["long"]["warm"]
    if warm is not None and warm[1] - warm[0] > RSS_TOLERANCE_KIB:
        problems.append(f"peak RSS grew by {warm[1] - warm[0]} KiB within the "
                        f"{long}-frame run after its first {short} frames")
    return results, problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", default=os.environ.get("TOVALINEX_BIN_DIR", "build/bin"))
    parser.add_argument("--short", type=int, default=10000)
    parser.add_argument("--long", type=int, default=1000000)
    parser.add_argument("--seed", type=int, default=20240601)
    parser.add_argument("programs", nargs="*")
    options = parser.parse_args()
    programs = options.programs or [p for p in PROGRAMS
                                    if os.path.exists(os.path.join(options.bin, p + "-headless"))]
    if not programs:
        print(f"soak: no headless twins in {options.bin}", file=sys.stderr)
        return 1
    failed = False
    print(f"{'program':15} {'sanitized':9} {'RSS@' + str(options.short):>12} "
          f"{'RSS@' + str(options.long):>12} {'in-run':>12} {'ms/frame':>8}  result")
    with tempfile.TemporaryDirectory(prefix="tovalinex-soak-") as scratch:
        for program in programs:
            binary = os.path.join(options.bin, program + "-headless")
            results, problems = soak(options.bin, program, options.short, options.long,
                                     options.seed, scratch)
            short_rss, long_rss = results["short"]["rss"], results["long"]["rss"]
            warm = results["long"]["warm"]
            in_run = f"{warm[1] - warm[0]:+8} KiB" if warm is not None else "n/a"
            per_frame = results["long"]["seconds"] * 1000 / max(options.long, 1)
            print(f"{program:15} {'yes' if sanitized(binary) else 'no':9} "
                  f"{short_rss:8} KiB {long_rss:8} KiB {in_run:>12} {per_frame:8.3f}  "
                  f"{'ok' if not problems else 'FAILED'}", flush=True)
            for problem in problems:
                print(f"  {program}: {problem}", file=sys.stderr)
            failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
