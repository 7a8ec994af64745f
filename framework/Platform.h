// The seam between the platform-neutral core and one backend: every service
// the core asks of a platform. Each backend (SDL desktop, Win32, headless,
// browser) defines all of these functions; Platform.md beside this file says
// when the core calls each one and what it must do.
//
// A backend reaches the core in three ways only:
//   - its entry point runs the loop: ApplicationMain where it can block, or
//     StartApplication, RunOnePass and StopApplication from its own callbacks
//     (FrameLoop.h);
//   - window messages go to MainWndProc (Shell.h), from the backend's own
//     dispatch (Win32) or through the shared queue in MessageQueue.h, which
//     also defines the message functions below for backends without a queue;
//   - it reads ActivationFlag (Shell.h) where it must know whether a frame
//     will run, and the headless backend resets the core's state between runs.
#pragma once

#include <cstdint>

#include "Tovalinex.h"  // VirtualKey

struct Surface;
struct PlatformWindow;   // the backend's window, opaque to the core
struct PlatformSurface;  // the backend's part of a surface, opaque to the core

// --- Clock ---------------------------------------------------------------
// Ticks per second of the high-resolution counter; false when there is none.
bool PlatformCounterFrequency(int64_t* ticksPerSecond);
int64_t PlatformCounter();
// A monotonic millisecond clock, used when there is no high-resolution counter.
int64_t PlatformMilliseconds();
// Gives up the rest of the time slice and returns at once.
void PlatformYield();
long long PlatformCalendarSeconds();

// --- Window ---------------------------------------------------------------
struct WindowMetrics {
  int screenWidth;
  int screenHeight;
  int captionHeight;
  int frameWidth;   // dialog-frame border, each side
  int frameHeight;  // dialog-frame border, top and bottom
};
void PlatformGetMetrics(WindowMetrics* metrics);

enum class RunningCopy {
  None,            // no copy runs: this start opens the window
  BroughtForward,  // a copy runs and was restored and raised (or told to be)
  NotAnswering,    // a copy holds the instance but did not answer in time
};
// Finds a running copy with the same title, restores and raises it. Returns
// within a bounded time whatever the other copy does; NotAnswering has been
// reported on stderr.
RunningCopy PlatformActivateExistingInstance(const char* title);
// Registers the window class; false when the platform refuses it.
bool PlatformRegisterWindowClass();
// Creates, shows and updates the window (which sends the first paint through
// MainWndProc). Null on failure, after the cause was reported on stderr.
PlatformWindow* PlatformCreateWindow(const char* title, int x, int y, int outerWidth,
                                     int outerHeight, int showState);
// The one message box the user may see; also written to stderr. Both texts are Shift-JIS.
void PlatformShowMessageBox(const char* text, const char* caption);
// A plain-ASCII account of a failure, for stderr.
void PlatformReportFailure(const char* message);

// --- Messages -------------------------------------------------------------
struct PlatformMessage {
  bool quit;
  int exitCode;
  alignas(8) unsigned char native[64];  // the backend's own message record
};
// Takes one pending message without waiting; false when the queue is empty.
bool PlatformPeekMessage(PlatformMessage* message);
// Translates the message and hands it to the window procedure.
void PlatformDispatchMessage(PlatformMessage* message);
// Blocks until a message arrives (it is left in the queue).
void PlatformWaitMessage();
void PlatformPostQuitMessage(int exitCode);
// Marks the whole client area for repaint, without erasing.
void PlatformInvalidate(PlatformWindow* window);

// --- Keyboard -------------------------------------------------------------
// Fixes the held state PlatformKeyHeld reports until the next call. Called
// once in every pass, after the last pending message and before GameFrame
// would run (whether or not it does).
void PlatformTakeKeySnapshot();
// Whether the key was held at the last snapshot.
bool PlatformKeyHeld(VirtualKey key);

// --- Surfaces and presenting ------------------------------------------------
// Makes the pixels of surface->width x surface->height (32 bits, bottom row
// first) and its native part. False when it cannot.
bool PlatformCreateSurface(PlatformWindow* window, Surface* surface);
void PlatformReleaseSurface(Surface* surface);
void PlatformBeginPaint(PlatformWindow* window);
// Copies width x height pixels of the surface unscaled to the window at (0, 0).
void PlatformPresent(PlatformWindow* window, const Surface* surface, int width, int height);
void PlatformEndPaint(PlatformWindow* window);

// --- Text -----------------------------------------------------------------
// Finds and opens the font; false, after telling the user why, when it cannot.
bool PlatformInitText();
// Renders the first `length` bytes of a Shift-JIS text in black at (0, 0) of
// the strip, which the caller has filled with the key colour. Returns how many
// columns from the left it may have touched, or -1 when it cannot render.
int PlatformRenderText(Surface* strip, const char* text, int length);
