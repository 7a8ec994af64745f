// Start and stop, single instance, main window and window procedure.
#include "Shell.h"

#include "Display.h"
#include "FrameLoop.h"
#include "FrameTimer.h"
#include "Platform.h"
#include "Tovalinex.h"

int ActivationFlag = 1;

// Why the start ended without a window, when it did.
static int StartFailure = 0;

int ActivateExistingInstance() {
  switch (PlatformActivateExistingInstance(AppTitle)) {
    case RunningCopy::None: return 0;
    case RunningCopy::BroughtForward: StartFailure = 0; return 1;
    case RunningCopy::NotAnswering:
      // Neither a hand-over nor a second window: the start ends, saying so.
      StartFailure = ExitNoAnswer;
      return 1;
  }
  return 0;
}

static WindowMetrics Metrics() {
  WindowMetrics metrics = {};
  PlatformGetMetrics(&metrics);
  return metrics;
}

int GetOuterWidth() { return ClientWidth + 2 * Metrics().frameWidth; }

int GetOuterHeight() {
  const WindowMetrics metrics = Metrics();
  return ClientHeight + 2 * metrics.frameHeight + metrics.captionHeight;
}

PlatformWindow* CreateMainWindow(int showState) {
  if (!PlatformRegisterWindowClass()) {
    PlatformShowMessageBox("このプログラムの動作環境は、Windows NTベースです", "Tovalinex");
    StartFailure = ExitNoWindowClass;
    return nullptr;
  }
  const WindowMetrics metrics = Metrics();
  const int width = GetOuterWidth();
  const int height = GetOuterHeight();
  // Centred, then raised by half the caption height rounded up.
  const int x = (metrics.screenWidth - width) / 2;
  const int y =
      (metrics.screenHeight - height) / 2 - metrics.captionHeight % 2 - metrics.captionHeight / 2;
  PlatformWindow* window = PlatformCreateWindow(AppTitle, x, y, width, height, showState);
  if (!window) StartFailure = ExitNoWindow;
  return window;
}

void OnActivateApp(long long first, long long /*second*/) { ActivationFlag = first == 1 ? 1 : 0; }

bool MainWndProc(PlatformWindow* window, WindowMessage message, long long first, long long second,
                 long long* result) {
  *result = 0;
  switch (message) {
    case WindowMessage::Destroy: PlatformPostQuitMessage(0); return true;
    case WindowMessage::Paint: PaintWindow(window); return true;
    case WindowMessage::ActivateApp: OnActivateApp(first, second); return true;
    case WindowMessage::SystemCommand:
      if (first != ScreenSaveCommand) return false;
      *result = 1;  // no screen saver while we have the focus
      return true;
    case WindowMessage::Other: break;
  }
  return false;
}

int StartApplication(int showState) {
  InitFrameTimer();
  if (ActivateExistingInstance()) return StartFailure;
  // The font is needed before any window: without it there would be a window of invisible text.
  if (!PlatformInitText()) return ExitNoFont;
  PlatformWindow* window = CreateMainWindow(showState);
  if (!window) return StartFailure;
  if (!InitSurfaces(window)) {
    PlatformReportFailure("the off-screen surfaces could not be made (out of memory?)");
    StopApplication();
    return ExitNoSurface;
  }
  return StillRunning;
}

void StopApplication() {
  ReleaseSurface(&MainDisplay.backBuffer);
  ReleaseSurface(&MainDisplay.textStrip);
}
