// Off-screen 32-bit pixel buffers and the colour-keyed copy between them.
#pragma once

#include <cstdint>

struct PlatformSurface;
struct PlatformWindow;

// Pixels are 0x00RRGGBB, row-major, memory row 0 being the bottom row of the
// picture: memory row r shows at picture row height - 1 - r.
struct Surface {
  PlatformSurface* native;
  uint32_t* pixels;
  int width;
  int height;
};

constexpr uint32_t KeyColour = 0x00FF00;
constexpr uint32_t White = 0xFFFFFF;

// Makes the pixels; false (leaving a null pixel pointer) when it cannot.
bool CreateSurface(Surface* surface, PlatformWindow* window, int width, int height);
// Frees what CreateSurface made; does nothing on a surface never made.
void ReleaseSurface(Surface* surface);
// For backends whose surfaces are plain memory: width x height pixels from
// the heap, all 0 (false when there is not enough), and freeing them.
bool AllocateSurfacePixels(Surface* surface);
void FreeSurfacePixels(Surface* surface);
void FillSurface(Surface* surface, uint32_t colour);
// Fills only the leftmost `columns` columns of every row.
void FillSurfaceColumns(Surface* surface, uint32_t colour, int columns);

// Copies the source onto the destination with its top-left corner at picture
// position (x, y), clipped on all sides; a source pixel whose low 24 bits equal
// the key's is transparent.
void BlitKeyed(Surface* destination, const Surface* source, int x, int y, uint32_t key);
// The same, for only the leftmost `columns` columns of the source.
void BlitKeyedColumns(Surface* destination, const Surface* source, int x, int y, uint32_t key,
                      int columns);

// The pixels of picture row y (0 at the top), which is memory row height - 1 - y.
inline uint32_t* PictureRow(const Surface* surface, int y) {
  return surface->pixels + static_cast<long long>(surface->height - 1 - y) * surface->width;
}

// The pixel at picture position (x, y), for tools and tests.
inline uint32_t PictureAt(const Surface* surface, int x, int y) {
  return PictureRow(surface, y)[x];
}
