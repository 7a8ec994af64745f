// DrawNumber with any int at any position: the text it draws must be the
// value in decimal, as written here digit by digit, and the picture must be
// the plain algorithm's picture of that text.
//
// Input: records of value, x and y, 4 bytes each.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Display.h"
#include "FuzzSupport.h"
#include "Tovalinex.h"

constexpr int MaximumRecords = 32;

static char Observed[128];
static int ObservedCount = 0;

static void Observe(const char* text, int length, int, int) {
  ++ObservedCount;
  std::memcpy(Observed, text, static_cast<size_t>(length));
  Observed[length] = 0;
}

// The decimal digits of any int, the minimum included, without printf.
static void WriteDecimal(int value, char* out) {
  long long magnitude = value;
  char digits[24];
  int count = 0;
  const bool negative = magnitude < 0;
  if (negative) magnitude = -magnitude;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *out++ = '-';
  while (count > 0) *out++ = digits[--count];
  *out = 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartTextTarget();
  TextObserver = Observe;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResetTextStrip();
  InputReader reader = {data, size, 0};
  for (int record = 0; record < MaximumRecords && !AtEnd(&reader); ++record) {
    const int value = static_cast<int>(ReadWord(&reader));
    const int x = static_cast<int>(ReadWord(&reader));
    const int y = static_cast<int>(ReadWord(&reader));
    char expected[24];
    WriteDecimal(value, expected);

    ObservedCount = 0;
    DrawNumber(value, x, y);
    if (ObservedCount != 1 || std::strcmp(Observed, expected) != 0) {
      std::fprintf(stderr, "fuzz: DrawNumber(%d) drew %d texts, the last \"%s\"\n", value,
                   ObservedCount, Observed);
      std::abort();
    }
    ReferenceDrawString(&ReferenceBack, &ReferenceStrip, expected, x, y);
    CheckTextStrip(y);
  }
  FinishTextInput();
  return 0;
}
