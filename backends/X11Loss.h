// The end of the X display under a running program: the server ends, the
// connection is killed (xkill), or another client destroys the window. Xlib's
// own handlers would print their message and exit 1.
#pragma once

// Installs the handlers, once SDL has opened the display. A lost connection
// is reported and ends the process at once with `exitCode`: nothing more can
// be drawn or closed. An X error (the window gone, a request refused) is
// reported once and calls `lost`, which ends the run.
void WatchX11Display(int exitCode, void (*lost)());
