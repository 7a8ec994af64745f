#include "FuzzSupport.h"

#include <sanitizer/asan_interface.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Display.h"
#include "FreeTypeText.h"
#include "Headless.h"

// The framework's loop is linked in but never entered; these complete the program.
extern const char AppTitle[] = "fuzz";
void GameFrame() {}

extern int TextStripDirtyColumns;

void StartFramework() {
  HeadlessReset();
  if (!FreeTypeOpenFont()) {
    std::fprintf(stderr, "fuzz: no font, nothing to fuzz\n");
    std::exit(1);
  }
  if (!InitSurfaces(nullptr)) {
    std::fprintf(stderr, "fuzz: the surfaces could not be made\n");
    std::exit(1);
  }
}

void ResetTextStrip() {
  FillSurface(&MainDisplay.textStrip, KeyColour);
  TextStripDirtyColumns = 0;
}

void ReferenceBlitKeyed(Surface* destination, const Surface* source, int x, int y, uint32_t key,
                        int columns) {
  const long long width = columns < source->width ? columns : source->width;
  for (long long row = 0; row < source->height; ++row) {
    const long long targetRow = row + y;
    if (targetRow < 0 || targetRow >= destination->height) continue;
    for (long long column = 0; column < width; ++column) {
      const long long targetColumn = column + x;
      if (targetColumn < 0 || targetColumn >= destination->width) continue;
      const uint32_t pixel = source->pixels[(source->height - 1 - row) * source->width + column];
      if ((pixel & 0xFFFFFF) == (key & 0xFFFFFF)) continue;
      destination
          ->pixels[(destination->height - 1 - targetRow) * destination->width + targetColumn] =
          pixel;
    }
  }
}

void ReferenceDrawString(Surface* backBuffer, Surface* strip, const char* text, int x, int y) {
  FillSurface(strip, KeyColour);
  // The cut text on its own, terminated after its 80th byte, so that a
  // renderer that looks past the cut sees different bytes here than in the
  // framework's call.
  char cut[81] = {};
  int length = 0;
  while (length < 80 && text[length] != 0) {
    cut[length] = text[length];
    ++length;
  }
  FreeTypeRenderText(strip, cut, length);
  ReferenceBlitKeyed(backBuffer, strip, x, y, KeyColour, strip->width);
}

void ExpectSameRows(const Surface* actual, const Surface* expected, long long firstRow,
                    long long lastRow, const char* what) {
  if (firstRow < 0) firstRow = 0;
  if (lastRow >= actual->height) lastRow = actual->height - 1;
  for (long long row = firstRow; row <= lastRow; ++row) {
    const uint32_t* left = actual->pixels + (actual->height - 1 - row) * actual->width;
    const uint32_t* right = expected->pixels + (expected->height - 1 - row) * expected->width;
    if (std::memcmp(left, right, sizeof(uint32_t) * actual->width) == 0) continue;
    for (int column = 0; column < actual->width; ++column)
      if (left[column] != right[column]) {
        std::fprintf(stderr, "fuzz: %s: picture (%d, %lld) is %08x, the reference has %08x\n", what,
                     column, row, left[column], right[column]);
        std::abort();
      }
  }
}

constexpr size_t AreaGuard = 64;

void MakePixelArea(PixelArea* area, size_t maximumPixels) {
  area->capacity = maximumPixels * sizeof(uint32_t) + sizeof(uint32_t);
  area->base = static_cast<unsigned char*>(std::malloc(AreaGuard + area->capacity));
  ASAN_POISON_MEMORY_REGION(area->base, AreaGuard);
}

uint32_t* PlacePixels(PixelArea* area, size_t count) {
  unsigned char* start = area->base + AreaGuard;
  const size_t bytes = count * sizeof(uint32_t);
  ASAN_UNPOISON_MEMORY_REGION(start, area->capacity);
  ASAN_POISON_MEMORY_REGION(start + bytes, area->capacity - bytes);
  return reinterpret_cast<uint32_t*>(start);
}

void PaintScattered(uint32_t* pixels, size_t count, const uint32_t* colours, int colourCount) {
  for (size_t index = 0; index < count; ++index) {
    const uint32_t pick = static_cast<uint32_t>(index * 2654435761u) >> 16;
    pixels[index] = colours[pick % static_cast<uint32_t>(colourCount)];
  }
}

void PaintDistinct(uint32_t* pixels, size_t count) {
  for (size_t index = 0; index < count; ++index)
    pixels[index] = static_cast<uint32_t>(index * 2246822519u) | 0x01000000u;
}

static uint32_t ReferencePixels[ClientWidth * ClientHeight];
static uint32_t ReferenceStripPixels[ClientWidth * StripHeight];
Surface ReferenceBack = {nullptr, ReferencePixels, ClientWidth, ClientHeight};
Surface ReferenceStrip = {nullptr, ReferenceStripPixels, ClientWidth, StripHeight};
static bool RowTouched[ClientHeight];  // rows either picture may differ from white in

void StartTextTarget() {
  StartFramework();
  FillSurface(&MainDisplay.backBuffer, White);
  FillSurface(&ReferenceBack, White);
}

void CheckTextStrip(long long y) {
  for (long long row = y < 0 ? 0 : y; row < y + StripHeight && row < ClientHeight; ++row)
    RowTouched[row] = true;
  ExpectSameRows(&MainDisplay.textStrip, &ReferenceStrip, 0, StripHeight - 1, "text strip");
}

void FinishTextInput() {
  // Nothing may have changed outside the rows the texts cover.
  ExpectSameRows(&MainDisplay.backBuffer, &ReferenceBack, 0, ClientHeight - 1, "whole picture");
  Surface* const pictures[] = {&MainDisplay.backBuffer, &ReferenceBack};
  for (int row = 0; row < ClientHeight; ++row) {
    if (!RowTouched[row]) continue;
    RowTouched[row] = false;
    for (Surface* surface : pictures) {
      uint32_t* line =
          surface->pixels + static_cast<long long>(ClientHeight - 1 - row) * ClientWidth;
      for (int column = 0; column < ClientWidth; ++column) line[column] = White;
    }
  }
}

uint8_t ReadByte(InputReader* reader) {
  return reader->position < reader->size ? reader->data[reader->position++] : 0;
}
uint16_t ReadHalf(InputReader* reader) {
  const uint16_t low = ReadByte(reader);
  return static_cast<uint16_t>(low | ReadByte(reader) << 8);
}
uint32_t ReadWord(InputReader* reader) {
  const uint32_t low = ReadHalf(reader);
  return low | static_cast<uint32_t>(ReadHalf(reader)) << 16;
}
bool AtEnd(const InputReader* reader) { return reader->position >= reader->size; }
