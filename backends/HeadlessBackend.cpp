// The headless backend: no window, a virtual counter that moves only when the
// loop yields, keys and activation from a script, and the presented picture
// kept in memory. The core's loop runs unchanged on top of it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Display.h"
#include "FreeTypeText.h"
#include "Headless.h"
#include "Platform.h"
#include "Shell.h"

struct PlatformWindow {
  int unused;
};

struct HeadlessMessage {
  WindowMessage kind;
  long long first;
};

static PlatformWindow TheWindow = {};
static HeadlessScript Script = {};
static HeadlessRecord Record = {};
static uint32_t PresentedPixels[ClientWidth * ClientHeight] = {};
static Surface Presented = {nullptr, PresentedPixels, ClientWidth, ClientHeight};
static int64_t Clock = 0;
static bool RepaintPending = false;
static bool QuitPosted = false;
static int QuitCode = 0;
static bool DestroySent = false;
static bool PassOpen = false;
static unsigned HeldKeys = 0;  // snapshot for the frame about to run
static HeadlessMessage Queue[MaximumActivationChanges + 2] = {};
static int QueueHead = 0;
static int QueueTail = 0;

void HeadlessReset() {
  Script = HeadlessScript{};
  Script.frames = 1;
  Script.calendarSeconds = static_cast<long long>(std::time(nullptr));
  Script.counterAvailable = true;
  Script.yieldTicks = 1000;  // 0.1 ms
  Record = HeadlessRecord{};
  std::memset(PresentedPixels, 0, sizeof PresentedPixels);
  Clock = 1000000000;  // an arbitrary running counter, as after boot
  RepaintPending = QuitPosted = DestroySent = PassOpen = false;
  QuitCode = 0;
  HeldKeys = 0;
  QueueHead = QueueTail = 0;
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

unsigned HeadlessKeyBit(int virtualKey) {
  switch (virtualKey) {
    case 0x25: return 1u;
    case 0x26: return 2u;
    case 0x27: return 4u;
    case 0x28: return 8u;
    case 0x20: return 16u;
    default: return 0u;
  }
}

static unsigned KeysAtFrame(int frame) {
  unsigned keys = 0;
  for (int index = 0; index < Script.keySpanCount; ++index) {
    const KeySpan& span = Script.keySpans[index];
    if (frame >= span.first && frame <= span.last) keys |= span.keys;
  }
  return keys;
}

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

bool PlatformActivateExistingInstance(const char*) { return false; }
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
static void Enqueue(WindowMessage kind, long long first) {
  if (QueueTail - QueueHead >= static_cast<int>(sizeof Queue / sizeof Queue[0])) return;
  Queue[QueueTail % (sizeof Queue / sizeof Queue[0])] = HeadlessMessage{kind, first};
  ++QueueTail;
}

static bool MoreActivationAhead() {
  for (int index = 0; index < Script.activationCount; ++index)
    if (Script.activations[index].pass >= Record.passes) return true;
  return false;
}

bool PlatformPeekMessage(PlatformMessage* message) {
  if (!PassOpen) {
    PassOpen = true;
    ++Record.passes;
    for (int index = 0; index < Script.activationCount; ++index)
      if (Script.activations[index].pass == Record.passes - 1)
        Enqueue(WindowMessage::ActivateApp, Script.activations[index].active);
  }
  message->quit = false;
  HeadlessMessage* native = reinterpret_cast<HeadlessMessage*>(message->native);
  static_assert(sizeof(HeadlessMessage) <= sizeof message->native, "message record too large");
  if (QuitPosted) {
    QuitPosted = false;
    message->quit = true;
    message->exitCode = QuitCode;
    return true;
  }
  if (QueueHead != QueueTail) {
    *native = Queue[QueueHead % (sizeof Queue / sizeof Queue[0])];
    ++QueueHead;
    return true;
  }
  // As on Windows, the paint comes once nothing else is queued.
  if (RepaintPending) {
    RepaintPending = false;
    *native = HeadlessMessage{WindowMessage::Paint, 0};
    return true;
  }
  // The scripted run is over: close the window as a user would.
  const bool finished =
      Record.framesRun >= Script.frames || (ActivationFlag != 1 && !MoreActivationAhead());
  if (finished && !DestroySent) {
    DestroySent = true;
    *native = HeadlessMessage{WindowMessage::Destroy, 0};
    return true;
  }
  PassOpen = false;
  return false;
}

void PlatformDispatchMessage(PlatformMessage* message) {
  const HeadlessMessage* native = reinterpret_cast<const HeadlessMessage*>(message->native);
  long long result = 0;
  MainWndProc(&TheWindow, native->kind, native->first, 0, &result);
}

void PlatformWaitMessage() {
  ++Record.waits;
  Clock += HeadlessCounterFrequency / 60;  // time passes while nothing happens
}

void PlatformPostQuitMessage(int exitCode) {
  QuitPosted = true;
  QuitCode = exitCode;
}

void PlatformInvalidate(PlatformWindow*) {
  RepaintPending = true;
  // The back buffer is cleared and GameFrame comes next: take its key snapshot.
  HeldKeys = Script.keySource ? Script.keySource(Record.framesRun) : KeysAtFrame(Record.framesRun);
  ++Record.framesRun;
}

// --- Surfaces and presenting ---
bool PlatformCreateSurface(PlatformWindow*, Surface* surface) {
  if (Script.refuseSurfaces) return false;
  surface->pixels = static_cast<uint32_t*>(
      std::calloc(static_cast<size_t>(surface->width) * surface->height, sizeof(uint32_t)));
  return surface->pixels != nullptr;
}

void PlatformReleaseSurface(Surface* surface) { std::free(surface->pixels); }

void PlatformBeginPaint(PlatformWindow*) { ++Record.paints; }

void PlatformPresent(PlatformWindow*, const Surface* surface, int width, int height) {
  ++Record.presents;
  for (int row = 0; row < height && row < surface->height; ++row)
    std::memcpy(
        PresentedPixels + static_cast<long long>(ClientHeight - 1 - row) * ClientWidth,
        surface->pixels + static_cast<long long>(surface->height - 1 - row) * surface->width,
        sizeof(uint32_t) * static_cast<size_t>(width < surface->width ? width : surface->width));
  if (Script.presented) Script.presented(Record.framesRun - 1, &Presented);
}

void PlatformEndPaint(PlatformWindow*) {}

// --- Text and keys ---
bool PlatformInitText() { return !Script.refuseFont && FreeTypeOpenFont(); }

int PlatformRenderText(Surface* strip, const char* text, int length) {
  return FreeTypeRenderText(strip, text, length);
}

bool PlatformKeyHeld(int virtualKey) {
  ++Record.keyQueries;
  const unsigned bit = HeadlessKeyBit(virtualKey);
  return bit != 0 && (HeldKeys & bit) != 0;
}

// --- Key scripts ---
static bool ParseNumber(const char** cursor, int* value) {
  const char* text = *cursor;
  if (*text < '0' || *text > '9') return false;
  long long number = 0;
  while (*text >= '0' && *text <= '9') {
    number = number * 10 + (*text - '0');
    if (number > 1000000000) return false;
    ++text;
  }
  *value = static_cast<int>(number);
  *cursor = text;
  return true;
}

static bool ParseKeyName(const char** cursor, unsigned* bit) {
  static const struct {
    const char* name;
    int key;
  } names[] = {{"left", 0x25}, {"up", 0x26}, {"right", 0x27}, {"down", 0x28}, {"space", 0x20}};
  for (const auto& entry : names) {
    const size_t length = std::strlen(entry.name);
    if (std::strncmp(*cursor, entry.name, length) == 0) {
      *bit = HeadlessKeyBit(entry.key);
      *cursor += length;
      return true;
    }
  }
  return false;
}

bool ParseKeyScript(const char* text, HeadlessScript* script) {
  script->keySpanCount = 0;
  if (*text == 0) return true;
  const char* cursor = text;
  for (;;) {
    KeySpan span = {};
    for (;;) {
      unsigned bit = 0;
      if (!ParseKeyName(&cursor, &bit)) return false;
      span.keys |= bit;
      if (*cursor != '+') break;
      ++cursor;
    }
    if (*cursor++ != '@') return false;
    if (!ParseNumber(&cursor, &span.first)) return false;
    if (*cursor++ != '-') return false;
    if (!ParseNumber(&cursor, &span.last) || span.last < span.first) return false;
    if (script->keySpanCount >= MaximumKeySpans) return false;
    script->keySpans[script->keySpanCount++] = span;
    if (*cursor == 0) return true;
    if (*cursor++ != ',') return false;
  }
}
