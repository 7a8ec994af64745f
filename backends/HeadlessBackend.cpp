// The headless backend: no window, a virtual counter that moves only when the
// loop yields, keys and activation from a script, and the presented picture
// kept in memory. The core's loop runs unchanged on top of it.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Display.h"
#include "FrameTimer.h"
#include "FreeTypeText.h"
#include "Headless.h"
#include "MessageQueue.h"
#include "Platform.h"
#include "Shell.h"

struct PlatformWindow {
  int unused;
};

static PlatformWindow TheWindow = {};
static HeadlessScript Script = {};
static HeadlessRecord Record = {};
static uint32_t PresentedPixels[ClientWidth * ClientHeight] = {};
static Surface Presented = {nullptr, PresentedPixels, ClientWidth, ClientHeight};
static int64_t Clock = 0;
static bool DestroySent = false;
static bool PassOpen = false;
static unsigned HeldKeys = 0;  // snapshot for the frame about to run

void HeadlessReset() {
  Script = HeadlessScript{};
  Script.frames = 1;
  Script.calendarSeconds = static_cast<long long>(std::time(nullptr));
  Script.counterAvailable = true;
  Script.yieldTicks = 1000;  // 0.1 ms
  Record = HeadlessRecord{};
  std::memset(PresentedPixels, 0, sizeof PresentedPixels);
  Clock = 1000000000;  // an arbitrary running counter, as after boot
  DestroySent = PassOpen = false;
  HeldKeys = 0;
  ResetWindowMessages();
  ActivationFlag = 1;
  MainFrameTimer = FrameTimer{1000.0 / 60.0, 1.0, 0, false};
  MainDisplay = Display{};
  TextObserver = nullptr;
}

HeadlessScript* HeadlessControl() { return &Script; }
const HeadlessRecord* HeadlessObserved() { return &Record; }
const Surface* HeadlessPresented() { return &Presented; }
void HeadlessAdvanceClock(int64_t ticks) { Clock += ticks; }
int64_t HeadlessClock() { return Clock; }

// --- Clock ---
bool PlatformCounterFrequency(int64_t* ticksPerSecond) {
  if (!Script.counterAvailable) return false;
  *ticksPerSecond = HeadlessCounterFrequency;
  return true;
}
int64_t PlatformCounter() { return Clock; }
int64_t PlatformMilliseconds() { return Clock / (HeadlessCounterFrequency / 1000); }
void PlatformYield() {
  ++Record.yields;
  Clock += Script.yieldTicks;
}
long long PlatformCalendarSeconds() { return Script.calendarSeconds; }

// --- Window ---
void PlatformGetMetrics(WindowMetrics* metrics) {
  // Those of a plain 1024x768 Windows desktop.
  *metrics = WindowMetrics{1024, 768, 23, 3, 3};
}

RunningCopy PlatformActivateExistingInstance(const char*) { return Script.runningCopy; }
bool PlatformRegisterWindowClass() { return !Script.refuseWindowClass; }

PlatformWindow* PlatformCreateWindow(const char*, int x, int y, int outerWidth, int outerHeight,
                                     int showState) {
  if (Script.refuseWindow) {
    PlatformReportFailure("the window could not be created");
    return nullptr;
  }
  Record.windowX = x;
  Record.windowY = y;
  Record.windowWidth = outerWidth;
  Record.windowHeight = outerHeight;
  Record.showState = showState;
  long long result = 0;
  MainWndProc(&TheWindow, WindowMessage::Paint, 0, 0, &result);  // as UpdateWindow does
  return &TheWindow;
}

void PlatformShowMessageBox(const char* text, const char* caption) {
  ++Record.messageBoxes;
  char utf8Text[512];
  char utf8Caption[128];
  Cp932ToUtf8(text, utf8Text, sizeof utf8Text);
  Cp932ToUtf8(caption, utf8Caption, sizeof utf8Caption);
  std::fprintf(stderr, "%s: %s\n", utf8Caption, utf8Text);
}

void PlatformReportFailure(const char* message) {
  std::fprintf(stderr, "tovalinex: %s\n", message);
}

// --- Messages ---
static bool MoreActivationAhead() {
  for (int index = 0; index < Script.activationCount; ++index)
    if (Script.activations[index].pass >= Record.passes) return true;
  return false;
}

void PumpPlatformEvents() {
  if (!PassOpen) {
    // A new pass: the script's activation changes for it arrive now.
    PassOpen = true;
    ++Record.passes;
    for (int index = 0; index < Script.activationCount; ++index)
      if (Script.activations[index].pass == Record.passes - 1)
        PostWindowMessage(&TheWindow, WindowMessage::ActivateApp, Script.activations[index].active);
  }
  // The scripted run is over: the window is closed once its last frame is up.
  const bool finished =
      Record.framesRun >= Script.frames || (ActivationFlag != 1 && !MoreActivationAhead());
  if (finished && !DestroySent) DestroySent = PostDestroyWhenIdle(&TheWindow);
}

void PlatformWaitMessage() {
  ++Record.waits;
  Clock += HeadlessCounterFrequency / 60;  // time passes while nothing happens
}

// --- Keyboard ---
void PlatformTakeKeySnapshot() {
  PassOpen = false;
  if (ActivationFlag != 1) return;
  // A frame comes next: fix its keys.
  HeldKeys = Script.keySource ? Script.keySource(Record.framesRun) : 0;
  ++Record.framesRun;
}

bool PlatformKeyHeld(VirtualKey key) {
  ++Record.keyQueries;
  const unsigned bit = KeySetBit(key);
  return bit != 0 && (HeldKeys & bit) != 0;
}

// --- Surfaces and presenting ---
bool PlatformCreateSurface(PlatformWindow*, Surface* surface) {
  if (Script.refuseSurfaces) return false;
  return AllocateSurfacePixels(surface);
}

void PlatformReleaseSurface(Surface* surface) { FreeSurfacePixels(surface); }

void PlatformBeginPaint(PlatformWindow*) { ++Record.paints; }

void PlatformPresent(PlatformWindow*, const Surface* surface, int width, int height) {
  ++Record.presents;
  for (int row = 0; row < height && row < surface->height; ++row)
    std::memcpy(
        PictureRow(&Presented, row), PictureRow(surface, row),
        sizeof(uint32_t) * static_cast<size_t>(width < surface->width ? width : surface->width));
  if (Script.presented) Script.presented(Record.framesRun - 1, &Presented);
}

void PlatformEndPaint(PlatformWindow*) {}

// --- Text ---
bool PlatformInitText() { return !Script.refuseFont && FreeTypeOpenFont(); }

int PlatformRenderText(Surface* strip, const char* text, int length) {
  return FreeTypeRenderText(strip, text, length);
}
