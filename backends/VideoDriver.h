// Which SDL video drivers the desktop programs accept, and which display the
// chosen one would open.
#pragma once

#include <cstddef>

// The drivers to give SDL, in its comma-separated form: those SDL_VIDEODRIVER
// names, or "x11,wayland" when it is unset or empty. False, with the first
// other name in `refused`, when it names any driver but x11 and wayland: the
// rest (offscreen, dummy, a console) would show no window on the desktop.
bool ChooseVideoDrivers(char* drivers, size_t size, char* refused, size_t refusedSize);

// The display the first usable driver of the list would open, from the
// environment: "x11 HOST:NUMBER" (DISPLAY without the screen), "wayland PATH"
// (the socket WAYLAND_DISPLAY names), or "none".
void ChosenDisplay(const char* drivers, char* display, size_t size);
