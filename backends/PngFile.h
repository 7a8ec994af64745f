// Pictures as PNG files, through libpng.
#pragma once

#include "Surface.h"

// What may happen to whatever is at the path already.
enum class PngTarget {
  // A regular file (or nothing) is replaced only by a whole picture: it is
  // written beside it and renamed into place. Anything else the name leads to
  // (a symlink, a device, a pipe such as /dev/stdout) is written into.
  Named,
  // The directory entry is always replaced, never followed: for files made in
  // a directory someone else may write to.
  Made,
};

// Writes the surface as an 8-bit RGB PNG, top row first. False on failure,
// with errno telling why; nothing that was at the path is ever removed.
bool WritePng(const char* path, const Surface* surface, PngTarget target);
