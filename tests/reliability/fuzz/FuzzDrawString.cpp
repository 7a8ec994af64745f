// DrawString with any bytes at any position, compared after every call with
// the plain algorithm (whole strip cleared, rendered and copied), so the
// framework's clearing and copying of only the touched columns must give the
// same picture and leave the same strip.
//
// Input: records of x (4 bytes), y (4), length (1) and that many text bytes.
#include <cstdlib>
#include <cstring>

#include "Display.h"
#include "FuzzSupport.h"
#include "Tovalinex.h"

constexpr int MaximumRecords = 64;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartTextTarget();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResetTextStrip();
  InputReader reader = {data, size, 0};
  for (int record = 0; record < MaximumRecords && !AtEnd(&reader); ++record) {
    const int x = static_cast<int>(ReadWord(&reader));
    const int y = static_cast<int>(ReadWord(&reader));
    size_t length = ReadByte(&reader);
    if (length > size - reader.position) length = size - reader.position;
    // An allocation of exactly the text and its terminator, so that reading
    // one byte past it is caught.
    char* text = static_cast<char*>(std::malloc(length + 1));
    std::memcpy(text, data + reader.position, length);
    text[length] = 0;
    reader.position += length;

    DrawString(text, x, y);
    ReferenceDrawString(&ReferenceBack, &ReferenceStrip, text, x, y);
    std::free(text);

    const long long top = y;
    CheckTextStrip(top);
    ExpectSameRows(&MainDisplay.backBuffer, &ReferenceBack, top, top + StripHeight - 1,
                   "rows of the text");
  }
  FinishTextInput();
  return 0;
}
