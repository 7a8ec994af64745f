// Kept apart from the rest of the desktop backend: the X11 headers define a
// Display of their own.
#pragma once

struct SDL_Window;

// Lets the X screen saver start again after SDL suspended it.
void LiftScreenSaverSuspension(SDL_Window* window);
