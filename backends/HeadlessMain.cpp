// <program>-headless: runs a program's frames on the virtual clock with
// scripted keys, and writes what it drew.
//   --frames N        GameFrame calls to run, frame 0 first
//   --keys SCRIPT     KEY[+KEY...]@FROM-TO,...  (left up right down space)
//   --random-keys SEED  keys drawn at random, changing every 1 to 32 frames;
//                     the same seed gives the same keys
//   --time SECONDS    the calendar seconds the program reads
//   --png FILE        the picture the last frame left
//   --dump DIR        DIR/frame-00000.png ... for every frame
//   --trace FILE      one line per text drawn: frame x y and the text's bytes in hex
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "Display.h"
#include "FrameLoop.h"
#include "Headless.h"
#include "KeyScript.h"
#include "PngFile.h"
#include "RunArguments.h"

static const char* DumpDirectory = nullptr;
static FILE* Trace = nullptr;
static bool DumpFailed = false;

static KeyScript Keys = {};
static unsigned ScriptedKeySource(int frame) { return KeysAtFrame(&Keys, frame); }

// The random key source: a 64-bit xorshift generator, so a seed replays exactly.
static uint64_t RandomState = 0;
static int RandomKeysUntil = -1;  // last frame of the current key set
static unsigned RandomKeys = 0;

static uint64_t NextRandomNumber() {
  RandomState ^= RandomState << 13;
  RandomState ^= RandomState >> 7;
  RandomState ^= RandomState << 17;
  return RandomState;
}

static void SeedRandomKeys(unsigned long long seed) {
  // Spread the seed so that small seeds differ from the first draw on; never 0.
  RandomState = (seed + 1) * 0x9E3779B97F4A7C15ULL;
  if (RandomState == 0) RandomState = 1;
  RandomKeysUntil = -1;
  RandomKeys = 0;
}

static unsigned RandomKeySource(int frame) {
  if (frame > RandomKeysUntil) {
    const uint64_t draw = NextRandomNumber();
    RandomKeys = static_cast<unsigned>(draw & 0x1F);  // each of the five keys held half the time
    RandomKeysUntil = frame + static_cast<int>((draw >> 8) % 32);
  }
  return RandomKeys;
}

static int Usage(const char* program, const char* problem) {
  std::fprintf(stderr,
               "%s: %s\n"
               "usage: %s --frames N [--keys SCRIPT | --random-keys SEED] [--time SECONDS]"
               " [--png FILE] [--dump DIR] [--trace FILE]\n"
               "  SCRIPT: comma-separated KEY[+KEY...]@FROM-TO, keys left up right down space,\n"
               "          frames inclusive, e.g. right@0-29,space+up@10-12\n",
               program, problem, program);
  return 2;
}

static void DumpFrame(int frame, const Surface* picture) {
  if (!DumpDirectory || DumpFailed) return;
  char path[4096];
  std::snprintf(path, sizeof path, "%s/frame-%05d.png", DumpDirectory, frame);
  if (!WritePng(path, picture)) {
    std::fprintf(stderr, "cannot write %s\n", path);
    DumpFailed = true;
  }
}

static void TraceText(const char* text, int length, int x, int y) {
  std::fprintf(Trace, "%d %d %d ", HeadlessObserved()->framesRun - 1, x, y);
  for (int index = 0; index < length; ++index)
    std::fprintf(Trace, "%02x", static_cast<unsigned char>(text[index]));
  std::fputc('\n', Trace);
}

int main(int argc, char** argv) {
  HeadlessReset();
  HeadlessScript* script = HeadlessControl();
  const char* pngPath = nullptr;
  const char* tracePath = nullptr;
  bool haveFrames = false;
  for (int index = 1; index < argc; index += 2) {  // each option takes a value
    const char* option = argv[index];
    const char* value = index + 1 < argc ? argv[index + 1] : nullptr;
    long long number = 0;
    if (std::strcmp(option, "--frames") == 0) {
      if (!ParseFrameCount(value, &script->frames)) return Usage(argv[0], "--frames takes a count");
      haveFrames = true;
    } else if (std::strcmp(option, "--keys") == 0) {
      if (!value || !ParseKeyScript(value, &Keys)) return Usage(argv[0], "bad --keys script");
    } else if (std::strcmp(option, "--random-keys") == 0) {
      if (!ParseWholeNumber(value, 0, 1LL << 62, &number))
        return Usage(argv[0], "--random-keys takes a seed, a whole number");
      SeedRandomKeys(static_cast<unsigned long long>(number));
      script->keySource = RandomKeySource;
    } else if (std::strcmp(option, "--time") == 0) {
      if (!ParseCalendarSeconds(value, &script->calendarSeconds))
        return Usage(argv[0], "--time takes whole seconds");
    } else if (std::strcmp(option, "--png") == 0 && value) {
      pngPath = value;
    } else if (std::strcmp(option, "--dump") == 0 && value) {
      DumpDirectory = value;
    } else if (std::strcmp(option, "--trace") == 0 && value) {
      tracePath = value;
    } else {
      return Usage(argv[0], "unknown or incomplete option");
    }
  }
  if (!haveFrames) return Usage(argv[0], "--frames is required");
  if (script->keySource && Keys.spanCount > 0)
    return Usage(argv[0], "--keys and --random-keys exclude each other");
  if (!script->keySource) script->keySource = ScriptedKeySource;
  if (DumpDirectory) {
    mkdir(DumpDirectory, 0777);
    struct stat info = {};
    if (stat(DumpDirectory, &info) != 0 || !S_ISDIR(info.st_mode)) {
      std::fprintf(stderr, "%s: cannot make the directory %s\n", argv[0], DumpDirectory);
      return 1;
    }
    script->presented = DumpFrame;
  }
  if (tracePath) {
    Trace = std::strcmp(tracePath, "-") == 0 ? stdout : std::fopen(tracePath, "w");
    if (!Trace) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], tracePath);
      return 1;
    }
    TextObserver = TraceText;
  }

  const int exitCode = ApplicationMain(1);

  if (Trace && Trace != stdout) std::fclose(Trace);
  if (exitCode != 0) return exitCode;
  if (DumpFailed) return 1;
  if (pngPath && !WritePng(pngPath, HeadlessPresented())) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], pngPath);
    return 1;
  }
  return 0;
}
