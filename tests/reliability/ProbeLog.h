// The present log of the preloaded probe, shared by its SDL and Wayland parts.
#pragma once

// Whether the first presents are still to be checked for a one-colour picture.
bool ProbeChecksColour();
// Appends one line for a present made at CLOCK_MONOTONIC `nanoseconds`:
// `colour` is the picture's one colour, -1 for a picture of several, -2 for
// one left unchecked.
void ProbeLogPresent(long long nanoseconds, long colour);
// The one colour (0xRRGGBB) of 32-bit pixels, or -1 when there are several.
long UniformColour(const void* pixels, int width, int height, int pitch);
long long ProbeNow();
