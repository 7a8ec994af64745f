// One pass of the loop, the only place that says in which order a frame's
// steps happen, and the blocking driver built on it.
#include "FrameLoop.h"

#include "Display.h"
#include "FrameTimer.h"
#include "Platform.h"
#include "Shell.h"
#include "Tovalinex.h"

PassOutcome RunOnePass(int* exitCode) {
  PlatformMessage message = {};
  while (PlatformPeekMessage(&message)) {
    if (message.quit) {
      *exitCode = message.exitCode;
      return PassOutcome::Quit;
    }
    PlatformDispatchMessage(&message);
  }
  // No message is handled from here until the next pass, so the keys GameFrame
  // reads cannot change under it.
  PlatformTakeKeySnapshot();
  if (ActivationFlag != 1) return PassOutcome::Idle;
  FillSurface(&MainDisplay.backBuffer, White);
  PlatformInvalidate(MainDisplay.window);
  GameFrame();
  return PassOutcome::Frame;
}

int ApplicationMain(int showState) {
  int exitCode = StartApplication(showState);
  if (exitCode != StillRunning) return exitCode;
  for (;;) {
    const PassOutcome outcome = RunOnePass(&exitCode);
    if (outcome == PassOutcome::Quit) break;
    if (outcome == PassOutcome::Frame)
      WaitForNextFrame();
    else
      PlatformWaitMessage();
  }
  StopApplication();
  return exitCode;
}
