// The end of the X display under a running program: the server ends, the
// connection is killed (xkill), or another client destroys the window. Xlib's
// own handlers would print their message and exit 1.
#pragma once

// Installs the handlers, once SDL has opened the display: either loss is
// reported in one line and ends the process with `exitCode` at once. Nothing
// more can be drawn, and tearing down a window that is gone would only bring
// more X errors.
void WatchX11Display(int exitCode);
