// What the desktop backend does itself on Wayland, on the surface of SDL's
// window: presenting through shared-memory buffers (SDL 2.26's own route
// there is a GL texture, which loads a GL renderer and starts its threads),
// activation with a launcher's token, and holding off the idle screen saver
// (SDL 2.26 never lifts its idle inhibitor again).
#pragma once

#include <cstdint>

struct SDL_Window;

// Binds shared memory and activation on an event queue of our own and makes
// the buffers of width x height pixels. False, with the reason in *why, when
// the window cannot present this way.
bool WaylandStart(SDL_Window* window, int width, int height, const char** why);
// True between a successful WaylandStart and WaylandStop.
bool WaylandStarted();
// A buffer the compositor is not reading (0x00RRGGBB pixels, top row first,
// *pitch bytes a row), or null when the compositor still holds every one.
uint32_t* WaylandTakeBuffer(int* pitch);
// Shows the buffer taken last, whole.
void WaylandShowBuffer();
// Asks the compositor to activate the window with a launcher's token.
void WaylandActivate(const char* token);
// Holds off the compositor's idle screen saver while `hold`; false when the
// compositor offers no idle inhibitor (SDL's screen-saver calls serve then).
bool WaylandHoldOffIdle(bool hold);
void WaylandStop();
