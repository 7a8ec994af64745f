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
// A file that cannot be written ends the run at once: a message naming it and
// the reason, and exit 1.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "Display.h"
#include "FrameLoop.h"
#include "Headless.h"
#include "KeyScript.h"
#include "Platform.h"
#include "PngFile.h"
#include "RunArguments.h"

static const char* ProgramName = "";
static const char* DumpDirectory = nullptr;
static FILE* Trace = nullptr;
static const char* TraceName = "";
static bool WriteFailed = false;

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

// Says why `path` could not be written (errno) and ends the run with exit 1.
static void WriteFailure(const char* path) {
  std::fprintf(stderr, "%s: cannot write %s: %s\n", ProgramName, path, std::strerror(errno));
  if (!WriteFailed) PlatformPostQuitMessage(1);
  WriteFailed = true;
}

static void DumpFrame(int frame, const Surface* picture) {
  if (!DumpDirectory || WriteFailed) return;
  char path[4096];
  std::snprintf(path, sizeof path, "%s/frame-%05d.png", DumpDirectory, frame);
  // The directory may be one others write to: what they left there is replaced, not followed.
  if (!WritePng(path, picture, PngTarget::Made)) WriteFailure(path);
}

static void TraceText(const char* text, int length, int x, int y) {
  if (WriteFailed) return;
  bool written = std::fprintf(Trace, "%d %d %d ", HeadlessObserved()->framesRun - 1, x, y) > 0;
  for (int index = 0; index < length && written; ++index)
    written = std::fprintf(Trace, "%02x", static_cast<unsigned char>(text[index])) > 0;
  if (!written || std::fputc('\n', Trace) == EOF) WriteFailure(TraceName);
}

// Flushes and closes the trace; false (after the message) when its last
// bytes could not be written.
static bool CloseTrace() {
  if (!Trace) return true;
  bool written = std::fflush(Trace) == 0 && !std::ferror(Trace);
  if (Trace != stdout) written = std::fclose(Trace) == 0 && written;
  Trace = nullptr;
  if (!written && !WriteFailed) WriteFailure(TraceName);
  return written;
}

int main(int argc, char** argv) {
  ProgramName = argv[0];
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
  if (pngPath && script->frames == 0)
    return Usage(argv[0], "--png needs a frame: with --frames 0 nothing is presented");
  if (script->keySource && Keys.spanCount > 0)
    return Usage(argv[0], "--keys and --random-keys exclude each other");
  if (!script->keySource) script->keySource = ScriptedKeySource;
  if (DumpDirectory) {
    struct stat info = {};
    if (mkdir(DumpDirectory, 0777) != 0 && errno != EEXIST) {
      std::fprintf(stderr, "%s: cannot make the directory %s: %s\n", argv[0], DumpDirectory,
                   std::strerror(errno));
      return 1;
    }
    if (stat(DumpDirectory, &info) != 0 || !S_ISDIR(info.st_mode)) {
      std::fprintf(stderr, "%s: %s is not a directory\n", argv[0], DumpDirectory);
      return 1;
    }
    script->presented = DumpFrame;
  }
  if (tracePath) {
    const bool toStandardOutput = std::strcmp(tracePath, "-") == 0;
    TraceName = toStandardOutput ? "standard output" : tracePath;
    Trace = toStandardOutput ? stdout : std::fopen(tracePath, "w");
    if (!Trace) {
      std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], tracePath, std::strerror(errno));
      return 1;
    }
    TextObserver = TraceText;
  }

  const int exitCode = ApplicationMain(1);

  if (!CloseTrace()) return 1;
  if (exitCode != 0) return exitCode;
  if (pngPath && !WritePng(pngPath, HeadlessPresented(), PngTarget::Named)) {
    WriteFailure(pngPath);
    return 1;
  }
  return 0;
}
