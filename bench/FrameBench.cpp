// Frame cost of one program on the headless backend, in three kinds of pass,
// side by side in one process:
//   floor      the back buffer cleared and presented, no GameFrame
//   framework  a whole frame with the framework's DrawString
//   literal    the same frame with LiteralDrawString (font opened per text,
//              whole strip cleared and scanned)
// The program's calls to DrawString and DrawNumber, and the loop's call to
// GameFrame, are routed here at link time (ld --wrap), so one build of the
// program runs with either drawing, or with no frame at all.
//
//   bench_<program> [--keys SCRIPT] [--time SECONDS] [--warm FRAMES] [--check FRAMES]
//                   [--count floor|framework|literal FRAMES] [benchmark options]
// --warm runs frames first to reach the program's heaviest state; --check
// then draws that many frames both ways and requires identical pictures;
// --count runs frames of one kind for callgrind (--toggle-collect=Measured*)
// instead of the timed benchmarks.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Display.h"
#include "FrameLoop.h"
#include "FreeTypeText.h"
#include "Headless.h"
#include "KeyScript.h"
#include "LiteralText.h"
#include "Shell.h"
#include "Tovalinex.h"

enum class TextMode { Framework, Literal, Both };
static TextMode Mode = TextMode::Framework;
static bool RunFrames = true;  // false: the floor, a pass whose GameFrame does nothing
static KeyScript Keys = {};

// The literal drawing's own picture when both are drawn, to compare.
static uint32_t ShadowPixels[ClientWidth * ClientHeight];
static uint32_t ShadowStripPixels[ClientWidth * StripHeight];
static Surface Shadow = {nullptr, ShadowPixels, ClientWidth, ClientHeight};
static Surface ShadowStrip = {nullptr, ShadowStripPixels, ClientWidth, StripHeight};

static long long TextsDrawn = 0;

extern "C" void __real__Z10DrawStringPKcii(const char* text, int x, int y);
extern "C" void __real__Z10DrawNumberiii(int value, int x, int y);

extern "C" void __wrap__Z10DrawStringPKcii(const char* text, int x, int y) {
  ++TextsDrawn;
  if (Mode != TextMode::Literal) __real__Z10DrawStringPKcii(text, x, y);
  if (Mode == TextMode::Literal)
    LiteralDrawString(&MainDisplay.backBuffer, &ShadowStrip, text, x, y);
  if (Mode == TextMode::Both) LiteralDrawString(&Shadow, &ShadowStrip, text, x, y);
}

extern "C" void __wrap__Z10DrawNumberiii(int value, int x, int y) {
  ++TextsDrawn;
  if (Mode != TextMode::Literal) __real__Z10DrawNumberiii(value, x, y);
  if (Mode == TextMode::Literal)
    LiteralDrawNumber(&MainDisplay.backBuffer, &ShadowStrip, value, x, y);
  if (Mode == TextMode::Both) LiteralDrawNumber(&Shadow, &ShadowStrip, value, x, y);
}

extern "C" void __real__Z9GameFramev();
extern "C" void __wrap__Z9GameFramev() {
  if (!RunFrames) return;
  if (Mode == TextMode::Both) FillSurface(&Shadow, White);
  __real__Z9GameFramev();
}

static unsigned ScriptedKeySource(int frame) { return KeysAtFrame(&Keys, frame); }

// One pass of the loop without its pacing: the paint presents the previous
// frame, the back buffer is cleared, the frame's keys are taken, the frame runs.
static void Pass(bool runFrame) {
  RunFrames = runFrame;
  int exitCode = 0;
  RunOnePass(&exitCode);
}

// Separate functions, never inlined, so callgrind can count each kind alone.
__attribute__((noinline)) void MeasuredFloorPass() { Pass(false); }
__attribute__((noinline)) void MeasuredFrameworkPass() {
  Mode = TextMode::Framework;
  Pass(true);
}
__attribute__((noinline)) void MeasuredLiteralPass() {
  Mode = TextMode::Literal;
  Pass(true);
}

static void Floor(benchmark::State& state) {
  for (auto _ : state) MeasuredFloorPass();
}

static void Framework(benchmark::State& state) {
  const long long before = TextsDrawn;
  for (auto _ : state) MeasuredFrameworkPass();
  state.counters["texts"] = benchmark::Counter(static_cast<double>(TextsDrawn - before) /
                                               static_cast<double>(state.iterations()));
}

static void Literal(benchmark::State& state) {
  const long long before = TextsDrawn;
  for (auto _ : state) MeasuredLiteralPass();
  state.counters["texts"] = benchmark::Counter(static_cast<double>(TextsDrawn - before) /
                                               static_cast<double>(state.iterations()));
}

BENCHMARK(Floor)->Unit(benchmark::kMicrosecond);
BENCHMARK(Framework)->Unit(benchmark::kMicrosecond);
BENCHMARK(Literal)->Unit(benchmark::kMicrosecond);

// Draws frames both ways; false at the first frame whose pictures differ.
static bool CheckFrames(int frames, long long* texts) {
  Mode = TextMode::Both;
  const long long before = TextsDrawn;
  for (int frame = 0; frame < frames; ++frame) {
    Pass(true);
    if (std::memcmp(MainDisplay.backBuffer.pixels, ShadowPixels, sizeof ShadowPixels) != 0) {
      std::fprintf(stderr, "bench: frame %d: the literal drawing's picture differs\n", frame);
      return false;
    }
  }
  *texts = TextsDrawn - before;
  Mode = TextMode::Framework;
  return true;
}

static bool TakeNumber(const char* text, long long* value) {
  char* end = nullptr;
  *value = std::strtoll(text, &end, 10);
  return *text && *end == 0;
}

int main(int argc, char** argv) {
  HeadlessReset();
  HeadlessScript* script = HeadlessControl();
  script->calendarSeconds = 1700000000;
  script->frames = 2000000000;  // the window is never closed
  script->keySource = ScriptedKeySource;
  long long warm = 0;
  long long check = 0;
  long long count = 0;
  const char* countMode = nullptr;
  // Our options first; the rest is for the benchmark library.
  int kept = 1;
  for (int index = 1; index < argc; ++index) {
    const char* option = argv[index];
    const char* value = index + 1 < argc ? argv[index + 1] : "";
    bool good = true;
    if (std::strcmp(option, "--keys") == 0) {
      good = ParseKeyScript(value, &Keys);
    } else if (std::strcmp(option, "--time") == 0) {
      good = TakeNumber(value, &script->calendarSeconds);
    } else if (std::strcmp(option, "--warm") == 0) {
      good = TakeNumber(value, &warm);
    } else if (std::strcmp(option, "--check") == 0) {
      good = TakeNumber(value, &check);
    } else if (std::strcmp(option, "--count") == 0 && index + 2 < argc) {
      countMode = value;
      good = TakeNumber(argv[index + 2], &count);
      ++index;
    } else {
      argv[kept++] = argv[index];
      continue;
    }
    if (!good) {
      std::fprintf(stderr, "bench: bad value for %s\n", option);
      return 2;
    }
    ++index;
  }
  argc = kept;

  const int started = StartApplication(1);
  if (started != StillRunning) return started;
  // The literal drawing opens the font file the framework's start found.
  if (!StartLiteralText()) return ExitNoFont;
  FillSurface(&ShadowStrip, KeyColour);
  for (long long frame = 0; frame < warm; ++frame) Pass(true);
  if (check > 0) {
    long long texts = 0;
    if (!CheckFrames(static_cast<int>(check), &texts)) return 1;
    std::printf("identical pixels: %lld frames, %lld texts, after %lld frames\n", check, texts,
                warm);
  }

  if (countMode) {
    void (*pass)() = std::strcmp(countMode, "floor") == 0       ? MeasuredFloorPass
                     : std::strcmp(countMode, "framework") == 0 ? MeasuredFrameworkPass
                     : std::strcmp(countMode, "literal") == 0   ? MeasuredLiteralPass
                                                                : nullptr;
    if (!pass) {
      std::fprintf(stderr, "bench: --count takes floor, framework or literal\n");
      return 2;
    }
    const long long before = TextsDrawn;
    for (long long frame = 0; frame < count; ++frame) pass();
    std::printf("%s: %lld frames, %lld texts\n", countMode, count, TextsDrawn - before);
    return 0;
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  StopApplication();
  return 0;
}
