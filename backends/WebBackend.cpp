// The browser backend: the program as a WebAssembly module that the page
// (web/tovalinex.js) calls back. The page loads the glyph atlas, then calls
// tovalinex_start once and tovalinex_animation_frame on every animation frame;
// a pass of the loop runs when the frame timer says a frame is due. Focus,
// visibility and closing the page come in as events and go through the shared
// message queue like any window's; keys are held state, fixed for each frame.
//
// A scripted run (the page's address gives frames, keys and time, as the
// headless twin's command line does) runs on a virtual schedule instead:
// tovalinex_run_scripted runs passes as fast as the page lets it, with the
// script's keys and no activation changes, until the last frame is painted.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "Display.h"
#include "FrameLoop.h"
#include "FrameTimer.h"
#include "GlyphAtlas.h"
#include "KeyScript.h"
#include "MessageQueue.h"
#include "Platform.h"
#include "RunArguments.h"
#include "Shell.h"
#include "TextCells.h"

#define WEB_EXPORT(name) extern "C" __attribute__((export_name(#name)))
#define WEB_IMPORT(name) __attribute__((import_module("tovalinex"), import_name(#name)))

// What the page does for the module.
extern "C" {
// Puts width x height RGBA pixels, top row first, on the canvas.
WEB_IMPORT(present) void PagePresent(const uint32_t* pixels, int width, int height);
// Sets the page title to a Shift-JIS text.
WEB_IMPORT(set_title) void PageSetTitle(const char* title, int length);
// Shows a message on the page and in the console; Shift-JIS texts.
WEB_IMPORT(show_message)
void PageShowMessage(const char* text, int textLength, const char* caption, int captionLength);
WEB_IMPORT(calendar_seconds) double PageCalendarSeconds();
// Asks for a screen wake lock (1) or lets it go (0).
WEB_IMPORT(hold_wake_lock) void PageHoldWakeLock(int hold);
}

struct PlatformWindow {
  int unused;
};

// What the page reports with tovalinex_event.
enum PageEvent { PageActivated = 0, PageDeactivated = 1, PageClosed = 2 };

constexpr int64_t CounterFrequency = 1000000;  // microseconds
constexpr int PendingCapacity = 64;
constexpr int ArgumentCapacity = 8192;

static PlatformWindow TheWindow = {};
static int64_t Clock = 0;
static bool AnotherCopyRuns = false;
static bool Running = false;
static int PendingEvents[PendingCapacity] = {};
static int PendingCount = 0;
static unsigned LiveKeys = 0;  // held now, as the key events said
static unsigned HeldKeys = 0;  // fixed for the frame about to run
static int FramesRun = 0;
static int FramesShown = 0;  // frames whose picture the canvas has had

// The scripted run, when the address asks for one.
static bool Scripted = false;
static int ScriptFrames = 0;
static KeyScript Script = {};
static bool ScriptTimeFixed = false;
static long long ScriptSeconds = 0;
static bool DestroySent = false;
static char Arguments[3][ArgumentCapacity] = {};

static unsigned char Atlas[AtlasBytes] = {};
static bool AtlasLoaded = false;
static uint32_t Canvas[ClientWidth * ClientHeight] = {};

static int Length(const char* text) { return static_cast<int>(std::strlen(text)); }

// --- Clock ---
bool PlatformCounterFrequency(int64_t* ticksPerSecond) {
  *ticksPerSecond = CounterFrequency;
  return true;
}
int64_t PlatformCounter() { return Clock; }
int64_t PlatformMilliseconds() { return Clock / 1000; }
void PlatformYield() {}
long long PlatformCalendarSeconds() {
  if (Scripted && ScriptTimeFixed) return ScriptSeconds;
  return static_cast<long long>(std::floor(PageCalendarSeconds()));
}

// --- Window ---
void PlatformGetMetrics(WindowMetrics* metrics) {
  // The page is the window and the canvas its client area: no frame around it.
  *metrics = WindowMetrics{ClientWidth, ClientHeight, 0, 0, 0};
}

// A page cannot bring another tab forward; the page says where the copy runs.
RunningCopy PlatformActivateExistingInstance(const char*) {
  return AnotherCopyRuns ? RunningCopy::BroughtForward : RunningCopy::None;
}
bool PlatformRegisterWindowClass() { return true; }

PlatformWindow* PlatformCreateWindow(const char* title, int, int, int, int, int) {
  PageSetTitle(title, Length(title));
  long long result = 0;
  MainWndProc(&TheWindow, WindowMessage::Paint, 0, 0, &result);  // as showing a window does
  return &TheWindow;
}

void PlatformShowMessageBox(const char* text, const char* caption) {
  PageShowMessage(text, Length(text), caption, Length(caption));
}

void PlatformReportFailure(const char* message) {
  PageShowMessage(message, Length(message), "Tovalinex", 9);
}

// --- Messages ---
void PumpPlatformEvents() {
  int taken = 0;
  while (taken < PendingCount) {
    const int event = PendingEvents[taken];
    const bool posted =
        event == PageClosed
            ? PostWindowMessage(&TheWindow, WindowMessage::Destroy, 0)
            : PostWindowMessage(&TheWindow, WindowMessage::ActivateApp, event == PageActivated);
    if (!posted) break;  // the queue is full: the rest wait for the next pump
    ++taken;
  }
  PendingCount -= taken;
  std::memmove(PendingEvents, PendingEvents + taken, sizeof(int) * PendingCount);
  // A scripted run ends as the twin's does: once its last frame is painted,
  // the window is closed.
  if (Scripted && FramesRun >= ScriptFrames && !DestroySent)
    DestroySent = PostDestroyWhenIdle(&TheWindow);
}

// Never called: the page's animation frames are the wait.
void PlatformWaitMessage() {}

// --- Keyboard ---
void PlatformTakeKeySnapshot() {
  if (ActivationFlag != 1) return;
  // A frame comes next: fix its keys.
  HeldKeys = Scripted ? KeysAtFrame(&Script, FramesRun) : LiveKeys;
  ++FramesRun;
}

bool PlatformKeyHeld(VirtualKey key) { return (HeldKeys & KeySetBit(key)) != 0; }

// --- Surfaces and presenting ---
bool PlatformCreateSurface(PlatformWindow*, Surface* surface) {
  return AllocateSurfacePixels(surface);
}

void PlatformReleaseSurface(Surface* surface) { FreeSurfacePixels(surface); }

void PlatformBeginPaint(PlatformWindow*) {}

void PlatformPresent(PlatformWindow*, const Surface* surface, int width, int height) {
  if (width > surface->width) width = surface->width;
  if (height > surface->height) height = surface->height;
  if (width > ClientWidth) width = ClientWidth;
  if (height > ClientHeight) height = ClientHeight;
  // 0x00RRGGBB bottom row first becomes the canvas's bytes R, G, B, A top row
  // first: as a little-endian word, 0xAABBGGRR.
  for (int row = 0; row < height; ++row) {
    const uint32_t* from = PictureRow(surface, row);
    uint32_t* to = Canvas + static_cast<long long>(row) * width;
    for (int column = 0; column < width; ++column) {
      const uint32_t pixel = from[column];
      to[column] =
          0xFF000000u | (pixel & 0x00FF00u) | (pixel >> 16 & 0xFFu) | (pixel & 0xFFu) << 16;
    }
  }
  FramesShown = FramesRun;
  PagePresent(Canvas, width, height);
}

void PlatformEndPaint(PlatformWindow*) {}

// --- Text ---
bool PlatformInitText() { return AtlasLoaded; }

static const uint16_t* AtlasRows(unsigned code, int, void*) {
  static uint16_t rows[GlyphLineHeight];
  LoadAtlasCell(Atlas, code, rows);
  return rows;
}

int PlatformRenderText(Surface* strip, const char* text, int length) {
  if (!AtlasLoaded) return -1;
  return DrawTextCells(strip, text, length, AtlasRows, nullptr);
}

// --- What the page calls ---

// Where the page puts the atlas it fetched, and how long it must be.
WEB_EXPORT(tovalinex_atlas) unsigned char* WebAtlas() { return Atlas; }
WEB_EXPORT(tovalinex_atlas_size) int WebAtlasSize() { return AtlasBytes; }
WEB_EXPORT(tovalinex_atlas_loaded) void WebAtlasLoaded() { AtlasLoaded = true; }

// The page's text of a scripted run's argument: 0 frames, 1 keys, 2 time.
WEB_EXPORT(tovalinex_argument) char* WebArgument(int which) {
  return which >= 0 && which < 3 ? Arguments[which] : nullptr;
}
WEB_EXPORT(tovalinex_argument_capacity) int WebArgumentCapacity() { return ArgumentCapacity; }

// Makes the next start a scripted run of the arguments' texts (time empty:
// the real time). 0 when they are good, else which one is not (1 frames, 2
// keys, 3 time); nothing changes then.
WEB_EXPORT(tovalinex_script) int WebScript(int haveTime) {
  int frames = 0;
  long long seconds = 0;
  // At least one frame: the page shows the last frame's picture, as the
  // twin's --png does, and with none nothing is presented.
  if (!ParseFrameCount(Arguments[0], &frames) || frames == 0) return 1;
  if (!ParseKeyScript(Arguments[1], &Script)) return 2;
  if (haveTime && !ParseCalendarSeconds(Arguments[2], &seconds)) return 3;
  Scripted = true;
  ScriptFrames = frames;
  ScriptTimeFixed = haveTime != 0;
  ScriptSeconds = seconds;
  return 0;
}

// Starts the program: StillRunning, or the exit code of a start that ended
// (0: another tab runs this program, `anotherCopyRuns` said so).
WEB_EXPORT(tovalinex_start) int WebStart(int anotherCopyRuns) {
  AnotherCopyRuns = anotherCopyRuns != 0 && !Scripted;
  const int outcome = StartApplication(1);
  Running = outcome == StillRunning;
  return outcome;
}

static bool Pass() {
  int exitCode = 0;
  if (RunOnePass(&exitCode) != PassOutcome::Quit) return true;
  StopApplication();
  Running = false;
  return false;
}

// One animation frame at `epochMilliseconds` (the page's time origin plus the
// frame's time stamp): a pass when a frame is due. Returns whether the
// program still runs.
WEB_EXPORT(tovalinex_animation_frame) int WebAnimationFrame(double epochMilliseconds) {
  if (!Running || Scripted) return Running;
  Clock = std::llround(epochMilliseconds * 1000.0);
  if (TakeAnimationFrame(ReadFrameClock())) Pass();
  return Running;
}

// Up to `passes` passes of a scripted run, each a frame period later on the
// virtual clock. Returns whether the run goes on.
WEB_EXPORT(tovalinex_run_scripted) int WebRunScripted(int passes) {
  for (int pass = 0; pass < passes && Running && Scripted; ++pass) {
    Clock += CounterFrequency / 60;
    Pass();
  }
  return Running;
}

// Focus, visibility and closing, as they happen.
WEB_EXPORT(tovalinex_event) void WebEvent(int event) {
  if (event != PageClosed) {
    if (Scripted) return;  // a scripted run is always the active one
    const bool active = event == PageActivated;
    // Once the page has lost the focus no key-up comes: every key is let go.
    if (!active) LiveKeys = 0;
    PageHoldWakeLock(active);
  }
  if (PendingCount < PendingCapacity) PendingEvents[PendingCount++] = event;
}

// A key (one of the VirtualKey codes) pressed or released.
WEB_EXPORT(tovalinex_key) void WebKey(int virtualKey, int down) {
  if (Scripted) return;
  const unsigned bit = KeySetBit(virtualKey);
  LiveKeys = down ? LiveKeys | bit : LiveKeys & ~bit;
}

// The page is going away: the window is destroyed and the loop stops.
WEB_EXPORT(tovalinex_close) void WebClose() {
  if (!Running) return;
  WebEvent(PageClosed);
  for (int pass = 0; pass < 16 && Running; ++pass) Pass();
}

// For tools and tests: frames run, and how many of them the canvas has shown.
WEB_EXPORT(tovalinex_frames_run) int WebFramesRun() { return FramesRun; }
WEB_EXPORT(tovalinex_frames_shown) int WebFramesShown() { return FramesShown; }
