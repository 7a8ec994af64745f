// Shared by the fuzz targets: the framework brought up on the headless
// backend, and slow, obvious reference versions of the keyed copy and of
// text drawing to compare the framework's results against. This code is
// built without coverage feedback (its loops would swamp it and slow every
// run), but with the sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Surface.h"

// Opens the font and makes the back buffer and text strip once per process.
void StartFramework();

// Puts the text strip and its bookkeeping back to the state after start-up,
// so that every input runs from the same state.
void ResetTextStrip();

// The keyed copy written the plain way, pixel by pixel in picture
// coordinates, limited to the leftmost `columns` source columns.
void ReferenceBlitKeyed(Surface* destination, const Surface* source, int x, int y, uint32_t key,
                        int columns);

// DrawString the long way: clear the whole strip, render, copy the whole strip.
void ReferenceDrawString(Surface* backBuffer, Surface* strip, const char* text, int x, int y);

// Compares picture rows [firstRow, lastRow] (clipped to the surface) of two
// surfaces of the same size; on a difference prints where and aborts, which
// libFuzzer reports as a finding.
void ExpectSameRows(const Surface* actual, const Surface* expected, long long firstRow,
                    long long lastRow, const char* what);

// A long-lived allocation that hands out the pixels of one surface at a
// time, bounded exactly by poisoned memory on both sides: a fresh allocation
// of a megabyte per input would cost more than the copy it checks.
struct PixelArea {
  unsigned char* base;
  size_t capacity;  // bytes usable after the leading guard
};
void MakePixelArea(PixelArea* area, size_t maximumPixels);
// Pixels for `count` 32-bit values; only they are addressable until the next call.
uint32_t* PlacePixels(PixelArea* area, size_t count);

// Paints a source with a scattering of the given colours, so runs of
// transparent and opaque pixels vary, and a destination with a pattern of
// distinct values.
void PaintScattered(uint32_t* pixels, size_t count, const uint32_t* colours, int colourCount);
void PaintDistinct(uint32_t* pixels, size_t count);

// The text targets draw every text through the framework and, the plain
// way, into this picture and strip; both pictures start white.
extern Surface ReferenceBack;
extern Surface ReferenceStrip;
void StartTextTarget();
// After a text drawn at row y both ways: the strips must agree, and the rows
// the text covers are noted for FinishTextInput.
void CheckTextStrip(long long y);
// At the end of an input: the whole pictures must agree; then only the rows
// the texts covered are put back to white, which keeps a run fast.
void FinishTextInput();

// Reads little-endian integers from the input; missing bytes read as 0.
struct InputReader {
  const uint8_t* data;
  size_t size;
  size_t position;
};
uint32_t ReadWord(InputReader* reader);
uint16_t ReadHalf(InputReader* reader);
uint8_t ReadByte(InputReader* reader);
bool AtEnd(const InputReader* reader);
