#include "Surface.h"

#include <cstdlib>

#include "Platform.h"

bool CreateSurface(Surface* surface, PlatformWindow* window, int width, int height) {
  surface->native = nullptr;
  surface->pixels = nullptr;
  surface->width = width;
  surface->height = height;
  if (width <= 0 || height <= 0 || !PlatformCreateSurface(window, surface)) {
    surface->pixels = nullptr;
    return false;
  }
  return surface->pixels != nullptr;
}

void ReleaseSurface(Surface* surface) {
  if (surface->pixels || surface->native) PlatformReleaseSurface(surface);
  surface->native = nullptr;
  surface->pixels = nullptr;
}

bool AllocateSurfacePixels(Surface* surface) {
  surface->pixels = static_cast<uint32_t*>(
      std::calloc(static_cast<size_t>(surface->width) * surface->height, sizeof(uint32_t)));
  return surface->pixels != nullptr;
}

void FreeSurfacePixels(Surface* surface) { std::free(surface->pixels); }

void FillSurfaceColumns(Surface* surface, uint32_t colour, int columns) {
  if (!surface->pixels) return;
  if (columns > surface->width) columns = surface->width;
  for (int row = 0; row < surface->height; ++row) {
    uint32_t* line = surface->pixels + static_cast<long long>(row) * surface->width;
    for (int column = 0; column < columns; ++column) line[column] = colour;
  }
}

void FillSurface(Surface* surface, uint32_t colour) {
  FillSurfaceColumns(surface, colour, surface->width);
}

void BlitKeyedColumns(Surface* destination, const Surface* source, int x, int y, uint32_t key,
                      int columns) {
  if (!destination->pixels || !source->pixels) return;
  if (columns > source->width) columns = source->width;
  // 64-bit arithmetic throughout, so any int position clips instead of overflowing.
  const long long base =
      static_cast<long long>(destination->height) - (static_cast<long long>(source->height) + y);
  const long long firstColumn = x < 0 ? -static_cast<long long>(x) : 0;
  long long lastColumn = static_cast<long long>(destination->width) - x;  // exclusive
  if (lastColumn > columns) lastColumn = columns;
  const long long firstRow = base < 0 ? -base : 0;
  if (firstRow >= source->height || firstColumn >= lastColumn) return;
  for (long long row = firstRow; row < source->height; ++row) {
    const long long target = base + row;
    if (target >= destination->height) break;
    const uint32_t* from = source->pixels + row * source->width;
    // Indexed from the row's start: offsetting the row pointer by a negative x
    // first would point before the pixels, which is undefined even if unread.
    uint32_t* to = destination->pixels + target * destination->width;
    for (long long column = firstColumn; column < lastColumn; ++column) {
      const uint32_t pixel = from[column];
      if (((pixel ^ key) & 0xFFFFFF) != 0) to[x + column] = pixel;
    }
  }
}

void BlitKeyed(Surface* destination, const Surface* source, int x, int y, uint32_t key) {
  BlitKeyedColumns(destination, source, x, y, key, source->width);
}
