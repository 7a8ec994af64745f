// Kept apart from the rest of the desktop backend: the X11 headers define a
// Display of their own.
#include "X11Loss.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>

static int LostExitCode = 1;

static int ConnectionLost(Display* display) {
  std::fprintf(stderr,
               "tovalinex: the display %s was lost: the X server ended or closed the "
               "connection\n",
               DisplayString(display));
  _exit(LostExitCode);
}

// SDL catches the errors it expects with handlers of its own, so any error
// that comes here means the window cannot go on: usually another client
// destroyed it.
static int RequestFailed(Display* display, XErrorEvent* error) {
  char text[128];
  XGetErrorText(display, error->error_code, text, sizeof text);
  std::fprintf(stderr, "tovalinex: the window was lost: the X server answers %s\n", text);
  _exit(LostExitCode);
}

void WatchX11Display(int exitCode) {
  LostExitCode = exitCode;
  XSetIOErrorHandler(ConnectionLost);
  XSetErrorHandler(RequestFailed);
}
