// The keyed copy with any position and any source and destination sizes up
// to the surfaces' sizes, compared with a pixel-by-pixel reference. Each
// surface's pixels are bounded exactly by poisoned memory, so any access
// outside them is caught.
//
// Input: destination width and height, source width and height (2 bytes
// each), mode (1), x and y (4 each, or 2 each in near mode), key (4),
// columns (2), then up to 8 colours (4 each) that the source is painted with.
#include <cstring>

#include "Display.h"
#include "FuzzSupport.h"

constexpr unsigned NearMode = 1;     // x and y are 16-bit, around the picture
constexpr unsigned ColumnsMode = 2;  // BlitKeyedColumns with the given column count

static PixelArea SourceArea;
static PixelArea DestinationArea;
static PixelArea ExpectedArea;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakePixelArea(&SourceArea, ClientWidth * ClientHeight);
  MakePixelArea(&DestinationArea, ClientWidth * ClientHeight);
  MakePixelArea(&ExpectedArea, ClientWidth * ClientHeight);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader reader = {data, size, 0};
  const int destinationWidth = ReadHalf(&reader) % (ClientWidth + 1);
  const int destinationHeight = ReadHalf(&reader) % (ClientHeight + 1);
  const int sourceWidth = ReadHalf(&reader) % (ClientWidth + 1);
  const int sourceHeight = ReadHalf(&reader) % (ClientHeight + 1);
  const unsigned mode = ReadByte(&reader);
  int x = 0;
  int y = 0;
  if (mode & NearMode) {
    x = static_cast<int16_t>(ReadHalf(&reader));
    y = static_cast<int16_t>(ReadHalf(&reader));
  } else {
    x = static_cast<int>(ReadWord(&reader));
    y = static_cast<int>(ReadWord(&reader));
  }
  const uint32_t key = ReadWord(&reader);
  const int columns = static_cast<int16_t>(ReadHalf(&reader));
  uint32_t colours[8];
  int colourCount = 0;
  while (colourCount < 8 && !AtEnd(&reader)) colours[colourCount++] = ReadWord(&reader);
  if (colourCount == 0) {
    colours[colourCount++] = key;
    colours[colourCount++] = 0;
  }

  const size_t sourceCount = static_cast<size_t>(sourceWidth) * sourceHeight;
  const size_t destinationCount = static_cast<size_t>(destinationWidth) * destinationHeight;
  Surface source = {nullptr, PlacePixels(&SourceArea, sourceCount), sourceWidth, sourceHeight};
  Surface destination = {nullptr, PlacePixels(&DestinationArea, destinationCount), destinationWidth,
                         destinationHeight};
  Surface expected = {nullptr, PlacePixels(&ExpectedArea, destinationCount), destinationWidth,
                      destinationHeight};
  PaintScattered(source.pixels, sourceCount, colours, colourCount);
  PaintDistinct(destination.pixels, destinationCount);
  std::memcpy(expected.pixels, destination.pixels, destinationCount * sizeof(uint32_t));

  if (mode & ColumnsMode) {
    BlitKeyedColumns(&destination, &source, x, y, key, columns);
    ReferenceBlitKeyed(&expected, &source, x, y, key, columns);
  } else {
    BlitKeyed(&destination, &source, x, y, key);
    ReferenceBlitKeyed(&expected, &source, x, y, key, sourceWidth);
  }
  ExpectSameRows(&destination, &expected, 0, destinationHeight - 1, "keyed copy");
  return 0;
}
