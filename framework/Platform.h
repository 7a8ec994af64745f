// The seam between the platform-neutral core and one backend. The core calls
// these functions; each backend (desktop, Win32, headless) defines all of them
// and calls back into the core only through MainWndProc.
#pragma once

#include <cstdint>

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

// Finds a running copy with the same title, restores and raises it.
bool PlatformActivateExistingInstance(const char* title);
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

// --- Keyboard -------------------------------------------------------------
// The held state of a virtual key, fixed for the current pass of the loop.
bool PlatformKeyHeld(int virtualKey);
