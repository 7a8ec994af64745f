// Pictures as PNG files, through libpng.
#pragma once

#include "Surface.h"

// Writes the surface as an 8-bit RGB PNG, top row first. False on failure.
bool WritePng(const char* path, const Surface* surface);
