// The desktop backend: SDL2 for the window, its events and presenting.
// Paint happens where the platform's paint message would, at the start of the
// next pass and on expose, so the window always shows the frame completed in
// the previous pass. On Wayland the picture goes through WaylandWindow.cpp.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Display.h"
#include "FrameLoop.h"
#include "FreeTypeText.h"
#include "MessageQueue.h"
#include "Platform.h"
#include "PosixSingleInstance.h"
#include "Shell.h"
#include "VideoDriver.h"
#include "WaylandWindow.h"
#include "X11Loss.h"
#include "X11ScreenSaver.h"

struct PlatformWindow {
  SDL_Window* window;
};

static PlatformWindow TheWindow = {};
static bool VideoStarted = false;
static bool VideoFailed = false;
static bool OnWayland = false;
static bool PresentFailed = false;
// The display SDL will open; one running copy per program, user and display.
static char ChosenDisplayName[512] = "none";

// Key state for the frame about to run, taken once per pass.
static const struct {
  VirtualKey virtualKey;
  SDL_Scancode scancode;
} KeyMap[] = {{KeyLeft, SDL_SCANCODE_LEFT},
              {KeyUp, SDL_SCANCODE_UP},
              {KeyRight, SDL_SCANCODE_RIGHT},
              {KeyDown, SDL_SCANCODE_DOWN},
              {KeySpace, SDL_SCANCODE_SPACE}};
static bool HeldKeys[sizeof KeyMap / sizeof KeyMap[0]] = {};

static bool StartVideo() {
  if (VideoStarted) return true;
  if (VideoFailed) return false;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    VideoFailed = true;
    return false;
  }
  VideoStarted = true;
  // X11 presents through the window surface (X shared memory), not through a
  // GL context. SDL 2.26's Wayland driver has no such surface: there the hint
  // would leave the window without any picture, and WaylandWindow.cpp presents.
  OnWayland = std::strcmp(SDL_GetCurrentVideoDriver(), "wayland") == 0;
  if (!OnWayland) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  if (!OnWayland) WatchX11Display(ExitDisplayLost);
  return true;
}

// A window that cannot show its picture would run unseen: it says why and ends.
static void CannotPresent(const char* why) {
  if (PresentFailed) return;
  PresentFailed = true;
  StopServingInstance();  // a copy about to end takes no hand-over
  std::fprintf(stderr, "tovalinex: the window cannot show its picture: %s\n", why);
  PlatformPostQuitMessage(ExitNoPicture);
}

// --- Clock ---
bool PlatformCounterFrequency(int64_t* ticksPerSecond) {
  const Uint64 frequency = SDL_GetPerformanceFrequency();
  if (frequency == 0) return false;
  *ticksPerSecond = static_cast<int64_t>(frequency);
  return true;
}
int64_t PlatformCounter() { return static_cast<int64_t>(SDL_GetPerformanceCounter()); }
int64_t PlatformMilliseconds() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}
// Gives up the time slice and comes straight back. SDL_Delay(0) would be a
// real sleep of some 50-70 us (the kernel's timer slack), which the pacing
// loop then overshoots by on every frame.
void PlatformYield() { sched_yield(); }
long long PlatformCalendarSeconds() { return static_cast<long long>(time(nullptr)); }

// --- Window ---
void PlatformGetMetrics(WindowMetrics* metrics) {
  // X11 tells a program its frame only after the window is mapped, so the
  // frame is taken to be a standard dialog frame with its caption.
  *metrics = WindowMetrics{1024, 768, 23, 3, 3};
  SDL_DisplayMode mode = {};
  if (StartVideo() && SDL_GetDesktopDisplayMode(0, &mode) == 0) {
    metrics->screenWidth = mode.w;
    metrics->screenHeight = mode.h;
  }
}

RunningCopy PlatformActivateExistingInstance(const char* title) {
  char identity[1024];
  std::snprintf(identity, sizeof identity, "Tovalinex\n%s\n%s", title, ChosenDisplayName);
  switch (ClaimInstance(identity, std::getenv("XDG_ACTIVATION_TOKEN"))) {
    case InstanceClaim::Other: return RunningCopy::BroughtForward;
    case InstanceClaim::NoAnswer: return RunningCopy::NotAnswering;
    case InstanceClaim::First:
    case InstanceClaim::Unguarded: break;
  }
  return RunningCopy::None;
}

bool PlatformRegisterWindowClass() { return true; }  // X11 needs no class registration

PlatformWindow* PlatformCreateWindow(const char* title, int x, int y, int, int, int showState) {
  if (!StartVideo()) {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::fprintf(stderr,
                 "tovalinex: no display could be opened (DISPLAY=%s, WAYLAND_DISPLAY=%s): %s\n",
                 display ? display : "unset", wayland ? wayland : "unset", SDL_GetError());
    return nullptr;
  }
  char caption[512];
  Cp932ToUtf8(title, caption, sizeof caption);
  WindowMetrics metrics;
  PlatformGetMetrics(&metrics);
  // SDL places the client area; the outer frame goes where the caller asked.
  SDL_Window* window = SDL_CreateWindow(caption, x + metrics.frameWidth,
                                        y + metrics.frameHeight + metrics.captionHeight,
                                        ClientWidth, ClientHeight, SDL_WINDOW_HIDDEN);
  if (!window) {
    std::fprintf(stderr, "tovalinex: the window could not be created: %s\n", SDL_GetError());
    return nullptr;
  }
  TheWindow.window = window;
  SDL_StopTextInput();  // no input method for this window
  if (showState != 0) SDL_ShowWindow(window);
  if (OnWayland) {
    // SDL 2.26 tells a Wayland compositor the fixed size only when asked
    // after showing; without it a tiling compositor would stretch the window.
    SDL_SetWindowMinimumSize(window, ClientWidth, ClientHeight);
    SDL_SetWindowMaximumSize(window, ClientWidth, ClientHeight);
    const char* why = "";
    if (!WaylandStart(window, ClientWidth, ClientHeight, &why)) CannotPresent(why);
  } else {
    SDL_RaiseWindow(window);
  }
  long long result = 0;
  MainWndProc(&TheWindow, WindowMessage::Paint, 0, 0, &result);  // the update after showing
  return &TheWindow;
}

void PlatformShowMessageBox(const char* text, const char* caption) {
  char utf8Text[512];
  char utf8Caption[128];
  Cp932ToUtf8(text, utf8Text, sizeof utf8Text);
  Cp932ToUtf8(caption, utf8Caption, sizeof utf8Caption);
  std::fprintf(stderr, "%s: %s\n", utf8Caption, utf8Text);
  if (StartVideo()) SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, utf8Caption, utf8Text, nullptr);
}

void PlatformReportFailure(const char* message) {
  std::fprintf(stderr, "tovalinex: %s\n", message);
}

// The screen saver is held off only while the window has the focus. SDL 2.26
// lifts neither the X server's suspension nor its Wayland idle inhibitor
// again, so the one is done here and the other replaced by our own.
static void HoldOffScreenSaver(bool hold) {
  if (WaylandHoldOffIdle(hold)) return;
  if (hold) {
    SDL_DisableScreenSaver();
    return;
  }
  SDL_EnableScreenSaver();
  if (TheWindow.window) LiftScreenSaverSuspension(TheWindow.window);
}

static void ComeForward() {
  if (!TheWindow.window) return;
  if (SDL_GetWindowFlags(TheWindow.window) & SDL_WINDOW_MINIMIZED)
    SDL_RestoreWindow(TheWindow.window);
  SDL_ShowWindow(TheWindow.window);
  // A Wayland compositor hands the focus over for the token its launcher gave
  // the later copy; SDL's own request carries no user action and is mostly
  // answered by marking the window urgent, so it serves only without a token.
  const char* token = InstanceActivationToken();
  if (WaylandStarted() && *token)
    WaylandActivate(token);
  else
    SDL_RaiseWindow(TheWindow.window);
}

// --- Messages ---
// Posts the window message an SDL event stands for, if any.
static void Translate(const SDL_Event& event) {
  PlatformWindow* window = &TheWindow;
  if (event.type == SDL_QUIT ||
      (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE)) {
    // Closing destroys the window, and its destroy message ends the loop. No
    // later start is taken from here on: it opens a window of its own.
    StopServingInstance();
    if (TheWindow.window) {
      WaylandStop();
      SDL_DestroyWindow(TheWindow.window);
      TheWindow.window = nullptr;
    }
    PostWindowMessage(window, WindowMessage::Destroy, 0);
    return;
  }
  if (event.type != SDL_WINDOWEVENT) return;
  switch (event.window.event) {
    case SDL_WINDOWEVENT_EXPOSED: PostWindowMessage(window, WindowMessage::Paint, 0); return;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      HoldOffScreenSaver(true);
      PostWindowMessage(window, WindowMessage::ActivateApp, 1);
      return;
    case SDL_WINDOWEVENT_FOCUS_LOST:
    case SDL_WINDOWEVENT_MINIMIZED:
      HoldOffScreenSaver(false);
      PostWindowMessage(window, WindowMessage::ActivateApp, 0);
      return;
    default: return;
  }
}

void PumpPlatformEvents() {
  SDL_Event event;
  while (!WindowMessageQueueFull() && SDL_PollEvent(&event)) Translate(event);
  // After the window's events, so that a close that came first is seen first.
  if (ServeInstancePeers()) ComeForward();
}

void PlatformWaitMessage() {
  // Woken by any event, or by a later copy knocking on the socket.
  for (;;) {
    if (SDL_WaitEventTimeout(nullptr, 100)) return;
    if (ServeInstancePeers()) {
      ComeForward();
      return;
    }
  }
}

// --- Keyboard ---
void PlatformTakeKeySnapshot() {
  const Uint8* state = SDL_GetKeyboardState(nullptr);
  for (size_t index = 0; index < sizeof KeyMap / sizeof KeyMap[0]; ++index)
    HeldKeys[index] = state[KeyMap[index].scancode] != 0;
}

bool PlatformKeyHeld(VirtualKey key) {
  for (size_t index = 0; index < sizeof KeyMap / sizeof KeyMap[0]; ++index)
    if (KeyMap[index].virtualKey == key) return HeldKeys[index];
  return false;
}

// --- Surfaces and presenting ---
bool PlatformCreateSurface(PlatformWindow*, Surface* surface) {
  return AllocateSurfacePixels(surface);
}

void PlatformReleaseSurface(Surface* surface) { FreeSurfacePixels(surface); }

void PlatformBeginPaint(PlatformWindow*) {}

static void PresentOnWayland(const Surface* surface, int width, int height) {
  int pitch = 0;
  uint32_t* target = WaylandTakeBuffer(&pitch);
  if (!target) return;  // the compositor is behind: this picture is dropped
  if (width > ClientWidth) width = ClientWidth;
  if (height > ClientHeight) height = ClientHeight;
  for (int row = 0; row < height; ++row)
    std::memcpy(reinterpret_cast<unsigned char*>(target) + static_cast<long long>(row) * pitch,
                PictureRow(surface, row), sizeof(uint32_t) * width);
  WaylandShowBuffer();
}

void PlatformPresent(PlatformWindow* window, const Surface* surface, int width, int height) {
  if (!window->window || PresentFailed) return;
  if (OnWayland) {
    PresentOnWayland(surface, width, height);
    return;
  }
  SDL_Surface* target = SDL_GetWindowSurface(window->window);
  if (!target) {
    CannotPresent(*SDL_GetError() ? SDL_GetError() : "SDL gives the window no surface");
    return;
  }
  if (width > target->w) width = target->w;
  if (height > target->h) height = target->h;
  if (SDL_MUSTLOCK(target)) SDL_LockSurface(target);
  const bool sameFormat = target->format->format == SDL_PIXELFORMAT_RGB888 ||
                          target->format->format == SDL_PIXELFORMAT_ARGB8888;
  for (int row = 0; row < height; ++row) {
    const uint32_t* from = PictureRow(surface, row);
    unsigned char* to =
        static_cast<unsigned char*>(target->pixels) + static_cast<long long>(row) * target->pitch;
    if (sameFormat)
      std::memcpy(to, from, sizeof(uint32_t) * width);
    else
      SDL_ConvertPixels(width, 1, SDL_PIXELFORMAT_RGB888, from, width * 4, target->format->format,
                        to, target->pitch);
  }
  if (SDL_MUSTLOCK(target)) SDL_UnlockSurface(target);
  SDL_UpdateWindowSurface(window->window);
}

void PlatformEndPaint(PlatformWindow*) {}

// --- Text ---
bool PlatformInitText() { return FreeTypeOpenFont(); }

int PlatformRenderText(Surface* strip, const char* text, int length) {
  return FreeTypeRenderText(strip, text, length);
}

// Started with a standard stream closed, the next file opened would take its
// number: messages for stderr would go into the instance socket or the X
// connection. /dev/null takes the place first.
static void FillClosedStandardStreams() {
  for (int stream = 0; stream <= 2; ++stream)
    if (fcntl(stream, F_GETFD) < 0 && errno == EBADF) open("/dev/null", O_RDWR);
}

int main(int, char**) {
  FillClosedStandardStreams();
  // A peer that hangs up must never end us.
  signal(SIGPIPE, SIG_IGN);
  // The X11 class, which SDL takes only from the environment.
  setenv("SDL_VIDEO_X11_WMCLASS", "Tovalinex", 1);
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  // Only a real desktop will do: SDL would otherwise fall back to its
  // off-screen driver and run an invisible window. X11 comes first where both
  // are (Xwayland): SDL 2.26 loads a GL driver for every Wayland window, which
  // costs several times the memory of the X11 window and more start-up time.
  char drivers[32];
  char refused[64];
  if (!ChooseVideoDrivers(drivers, sizeof drivers, refused, sizeof refused)) {
    std::fprintf(stderr,
                 "tovalinex: the video driver '%s' (SDL_VIDEODRIVER) is not accepted: only x11 "
                 "and wayland show a window here\n",
                 refused);
    return ExitNoWindow;
  }
  SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, drivers, SDL_HINT_OVERRIDE);
  ChosenDisplay(drivers, ChosenDisplayName, sizeof ChosenDisplayName);
  SDL_SetMainReady();
  const int exitCode = ApplicationMain(1);
  SDL_Quit();
  return exitCode;
}
