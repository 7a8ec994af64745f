// The frame loop as three steps that every driver shares: start, one pass,
// stop. A platform that can block runs them with ApplicationMain; one that
// calls the program back (a browser's animation frames) runs one pass per
// due frame itself.
#pragma once

// What StartApplication returns when the window is up and passes may run.
constexpr int StillRunning = -1;

// Frame timer, single instance, font, window and surfaces. StillRunning, or
// the exit code: 0 when a copy already runs and was brought forward, 3 to 6
// when the window could not be opened (see Shell.h).
int StartApplication(int showState);

enum class PassOutcome {
  Frame,  // a frame ran: the driver paces before the next pass
  Idle,   // inactive, nothing ran: the driver waits for a message
  Quit,   // the quit message came: the driver stops
};

// One pass of the loop: every pending message is handled (the paint among
// them presents the frame the previous pass completed; the quit message ends
// the run and leaves its code in *exitCode); then, while the application is
// active, the back buffer is cleared to white, a repaint is requested and
// GameFrame runs.
PassOutcome RunOnePass(int* exitCode);

// Releases both surfaces; harmless when they were never made.
void StopApplication();

// The driver of a platform that can block: start, then a pass followed by
// WaitForNextFrame after a frame or the blocking message wait when idle, until
// the quit message; then stop. Returns the exit code.
int ApplicationMain(int showState);
