#!/usr/bin/env python3
"""Measures frame cost, pacing, CPU while inactive and start-up, and the web
site's transfer sizes, first frame and WebAssembly frame cost, and prints the
results as Markdown tables with the targets they are held against.
scripts/bench.sh builds what this needs and runs it.

    measure.py --build DIR [--skip-frames] [--skip-windowed] [--skip-wayland] [--skip-web]
               [--rounds N]
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(ROOT, "tests", "e2e"), os.path.join(ROOT, "tests", "reliability")]

import programs  # noqa: E402

# The state each program's heaviest frame is measured in, reached by `warm`
# frames of the program list's "benchmark" keys. The samples draw the same
# texts in every frame, so with no key held their mark stays in the window;
# the mini-game is started and its player flown up and far to the left,
# firing, so that the ring of 32 shots fills and all 16 enemies wander
# unharmed: 49 actor texts plus 3.
FRAME_PROGRAMS = {
    entry["name"]: ((["--keys", entry["benchmark"]["keys"]] if entry["benchmark"]["keys"] else []),
                    entry["benchmark"]["warm"], entry["benchmark"]["literalFrames"])
    for entry in programs.entries()}
CHECKED_FRAMES = 300  # frames past the warm-up drawn both ways and compared
CALLGRIND_FRAMES = 100


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, check=True, **kwargs).stdout


def frame_costs(build, program):
    binary = os.path.join(build, "bin", f"bench_{program}")
    keys, warm, literal_frames = FRAME_PROGRAMS[program]
    # Every frame from the first on is drawn both ways and compared; the
    # timed runs then start in the heaviest state.
    output = run([binary, *keys, "--warm", "0", "--check", str(warm + CHECKED_FRAMES),
                  "--benchmark_repetitions=5", "--benchmark_enable_random_interleaving=true",
                  "--benchmark_min_time=0.3", "--benchmark_report_aggregates_only=true",
                  "--benchmark_format=json"])
    identical = output.splitlines()[0]
    report = json.loads(output[output.index("{"):])
    times, texts = {}, {}
    for entry in report["benchmarks"]:
        if entry.get("aggregate_name") == "median":
            times[entry["run_name"]] = entry["real_time"]
            texts[entry["run_name"]] = entry.get("texts")
    instructions = {}
    for mode, frames in (("floor", CALLGRIND_FRAMES), ("framework", CALLGRIND_FRAMES),
                         ("literal", literal_frames)):
        with tempfile.NamedTemporaryFile(suffix=".callgrind") as out:
            run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out.name}",
                 f"--toggle-collect=Measured{mode.capitalize()}Pass*", binary, *keys,
                 "--warm", str(warm), "--count", mode, str(frames)])
            summary = [line for line in open(out.name) if line.startswith("summary:")]
            instructions[mode] = int(summary[0].split()[1]) / frames
    return {"identical": identical, "times": times, "texts": texts.get("Framework"),
            "instructions": instructions}


def print_frame_table(results):
    print("### Frame cost, headless (one pass: present, clear, GameFrame)\n")
    print("| program | texts/frame | floor | framework | literal | framework/floor | "
          "literal/framework | text cost literal/framework |")
    print("|---|---|---|---|---|---|---|---|")
    for program, result in results.items():
        for kind, values, unit in (("instructions", result["instructions"], "Ir"),
                                   ("time", {k.lower(): v for k, v in result["times"].items()}, "µs")):
            floor, framework, literal = values["floor"], values["framework"], values["literal"]
            scale = 1e6 if kind == "instructions" else 1
            shown = "M Ir" if kind == "instructions" else "µs"
            # Within the timer's noise the framework's texts may cost nothing measurable.
            text_ratio = (f"{(literal - floor) / (framework - floor):.0f}×" if framework > floor
                          else "below noise")
            print(f"| {program} ({kind}) | {result['texts']:.1f} | {floor / scale:.3f} {shown} | "
                  f"{framework / scale:.3f} {shown} | {literal / scale:.3f} {shown} | "
                  f"{framework / floor:.2f}× | {literal / framework:.1f}× | {text_ratio} |")
    print()
    for program, result in results.items():
        print(f"- {program}: {result['identical']}")
    print()


def pacing(session, program, loaded, frames=600):
    from reliability_support import TITLES, intervals_ms, presents, probed_env
    log = os.path.join(session.root, f"pacing-{program}-{loaded}.log")
    process = session.start(program, env=probed_env(session, log))
    window = session.wait_window(TITLES[program])
    session.activate(window)
    busy = None
    if loaded:
        busy = subprocess.Popen([sys.executable, "-c", "while True: pass"])
    try:
        time.sleep(1.0)
        first = len(presents(log))
        deadline = time.monotonic() + frames / 60 * 2 + 5
        while len(presents(log)) < first + frames + 1 and time.monotonic() < deadline:
            time.sleep(0.2)
        stamps = [ns for ns, _ in presents(log)[first:first + frames + 1]]
    finally:
        if busy:
            busy.kill()
            busy.wait()
    session.close(window)
    process.wait(timeout=10)
    gaps = intervals_ms(stamps)
    ordered = sorted(gaps)
    return {"count": len(gaps), "min": ordered[0], "median": statistics.median(ordered),
            "p99": ordered[min(len(ordered) - 1, int(0.99 * len(ordered)))], "max": ordered[-1]}


def inactive_cpu(session, program="free_move", seconds=5.0):
    from reliability_support import TITLES, cpu_seconds, presents, probed_env
    log = os.path.join(session.root, "inactive.log")
    process = session.start(program, env=probed_env(session, log))
    window = session.wait_window(TITLES[program])
    session.activate(window)
    time.sleep(1.0)
    other = session.start("/usr/bin/xmessage", "another application")
    session.wait_until(lambda: session.windows("Xmessage"), 5, "xmessage did not open")
    session.activate(session.windows("Xmessage")[0][0])
    time.sleep(0.5)
    cpu, frames, started = cpu_seconds(process.pid), len(presents(log)), time.monotonic()
    time.sleep(seconds)
    used = cpu_seconds(process.pid) - cpu
    elapsed = time.monotonic() - started
    frames = len(presents(log)) - frames
    other.kill()
    process.kill()
    process.wait()
    return {"percent": 100 * used / elapsed, "seconds": elapsed, "presents": frames}


def start_up(session, binary, drawn):
    """Milliseconds from exec to the first present (of a drawn, not blank,
    picture when `drawn`), and peak RSS in KiB one second later."""
    from reliability_support import MIXED, presents, probed_env
    log = os.path.join(session.root, f"start-{time.monotonic_ns()}.log")
    env = probed_env(session, log)
    started = time.monotonic_ns()
    process = subprocess.Popen([binary], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    shown = None
    while shown is None and time.monotonic() < deadline:
        for ns, colour in presents(log):
            if not drawn or colour == MIXED:
                shown = ns
                break
        time.sleep(0.001)
    time.sleep(1.0)
    with open(f"/proc/{process.pid}/status") as status:
        peak = next(int(line.split()[1]) for line in status if line.startswith("VmHWM:"))
    process.terminate()
    process.wait(timeout=10)
    if shown is None:
        raise AssertionError(f"{binary} presented nothing")
    return (shown - started) / 1e6, peak


def start_ups(session, build, rounds):
    """(free_move's, the bare window's) start-ups, alternating."""
    bin_dir = os.path.join(build, "bin")
    framework, bare = [], []
    for _ in range(rounds):
        framework.append(start_up(session, os.path.join(bin_dir, "free_move"), drawn=True))
        bare.append(start_up(session, os.path.join(bin_dir, "bare_sdl"), drawn=False))
    return framework, bare


def windowed(build, rounds):
    from xsession import XSession
    results = {}
    with XSession() as session:
        results["pacing idle"] = pacing(session, "free_move", loaded=False)
        results["pacing loaded"] = pacing(session, "free_move", loaded=True)
        results["inactive"] = inactive_cpu(session)
        results["start"] = start_ups(session, build, rounds)
    return results


def wayland(build, rounds):
    """Start-ups as native Wayland clients of a headless sway."""
    from waylandsession import WaylandSession
    with WaylandSession() as session:
        return start_ups(session, build, rounds)


def print_start_up_table(heading, starts, rounds, framework_how, bare_how):
    framework, bare = starts
    f_ms = statistics.median(t for t, _ in framework)
    b_ms = statistics.median(t for t, _ in bare)
    f_kib = statistics.median(k for _, k in framework)
    b_kib = statistics.median(k for _, k in bare)
    print(f"### {heading}: exec to first presented frame, medians of {rounds} alternating starts\n")
    print("| program | time | peak RSS |")
    print("|---|---|---|")
    print(f"| free_move (first drawn frame{framework_how}) | {f_ms:.1f} ms | {f_kib / 1024:.1f} MiB |")
    print(f"| bare SDL2 window, one present{bare_how} | {b_ms:.1f} ms | {b_kib / 1024:.1f} MiB |")
    print(f"| ratio / difference | {f_ms / b_ms:.2f}× (target ≤ 1.3×) | "
          f"{(f_kib - b_kib) / 1024:+.1f} MiB (target ≤ +8 MiB) |")
    print(f"\nAll start-up times (ms): free_move {[round(t, 1) for t, _ in framework]}, "
          f"bare {[round(t, 1) for t, _ in bare]}\n")


def print_windowed_tables(results, rounds):
    print("### Pacing under Xvfb: intervals between presents of free_move, 600 frames\n")
    print("| load | min | median | p99 | max | target |")
    print("|---|---|---|---|---|---|")
    for name in ("pacing idle", "pacing loaded"):
        r = results[name]
        print(f"| {name.split()[1]} | {r['min']:.3f} ms | {r['median']:.3f} ms | {r['p99']:.3f} ms | "
              f"{r['max']:.3f} ms | median 16.667 ± 0.05, p99 ≤ 17.167 |")
    r = results["inactive"]
    print(f"\n### CPU while inactive\n\nfree_move, {r['seconds']:.1f} s after another window was "
          f"activated: {r['percent']:.2f} % of one core, {r['presents']} presents (target ≤ 0.5 %).\n")
    print_start_up_table("Start-up", results["start"], rounds, "", "")


def web(build, rounds):
    """The site built into DIR/web, measured in Chromium by web_measure.mjs."""
    output = run(["node", os.path.join(ROOT, "bench", "web_measure.mjs"),
                  "--site", os.path.join(build, "web", "site"), "--bench-bin", os.path.join(build, "bin"),
                  "--programs", os.path.join(build, "programs.json"), "--rounds", str(rounds)])
    print(output)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--skip-frames", action="store_true")
    parser.add_argument("--skip-windowed", action="store_true")
    parser.add_argument("--skip-wayland", action="store_true")
    parser.add_argument("--skip-web", action="store_true")
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("programs", nargs="*")
    options = parser.parse_args()
    os.environ.setdefault("TOVALINEX_BIN_DIR", os.path.join(options.build, "bin"))
    os.environ.setdefault("TOVALINEX_PROBE",
                          os.path.join(options.build, "tests", "reliability", "tovalinex_probe.so"))
    print(f"Measured {time.strftime('%Y-%m-%d %H:%M')} on {os.cpu_count()} cores, "
          f"load average {os.getloadavg()[0]:.2f} at the start.\n")
    if not options.skip_frames:
        programs = options.programs or [p for p in FRAME_PROGRAMS
                                        if os.path.exists(os.path.join(options.build, "bin", f"bench_{p}"))]
        print_frame_table({program: frame_costs(options.build, program) for program in programs})
    if not options.skip_windowed:
        print_windowed_tables(windowed(options.build, options.rounds), options.rounds)
    if not options.skip_wayland:
        print_start_up_table("Start-up on Wayland (headless sway 1.7, pixman renderer)",
                             wayland(options.build, options.rounds), options.rounds,
                             ", shared-memory buffers", " (SDL's GL texture path)")
    if not options.skip_web:
        web(options.build, max(3, options.rounds // 2))


if __name__ == "__main__":
    main()
