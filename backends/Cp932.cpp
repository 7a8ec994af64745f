#include "Cp932.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

// glibc's "SHIFT_JIS" lacks the Microsoft mappings ("～" is 0x8160 there only
// in CP932), so the code page is named exactly.
static iconv_t OpenFromCp932(const char* to) { return iconv_open(to, "CP932"); }

uint32_t Cp932CodeToUnicode(unsigned code) {
  static iconv_t converter = OpenFromCp932("UTF-32LE");
  if (converter == reinterpret_cast<iconv_t>(-1)) return 0;
  char in[2];
  size_t inLeft = 0;
  if (code > 0xFF) {
    in[0] = static_cast<char>(code >> 8);
    in[1] = static_cast<char>(code & 0xFF);
    inLeft = 2;
  } else {
    in[0] = static_cast<char>(code);
    inLeft = 1;
  }
  unsigned char out[8] = {};
  char* inCursor = in;
  char* outCursor = reinterpret_cast<char*>(out);
  size_t outLeft = sizeof out;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &inCursor, &inLeft, &outCursor, &outLeft) == static_cast<size_t>(-1) ||
      inLeft != 0 || sizeof out - outLeft != 4)
    return 0;
  return out[0] | out[1] << 8 | out[2] << 16 | static_cast<uint32_t>(out[3]) << 24;
}

void Cp932ToUtf8(const char* text, char* out, size_t size) {
  if (size == 0) return;
  static iconv_t converter = OpenFromCp932("UTF-8");
  size_t inLeft = std::strlen(text);
  char* inCursor = const_cast<char*>(text);
  char* outCursor = out;
  size_t outLeft = size - 1;
  if (converter != reinterpret_cast<iconv_t>(-1))
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
  while (inLeft > 0 && outLeft > 0) {
    if (converter != reinterpret_cast<iconv_t>(-1) &&
        iconv(converter, &inCursor, &inLeft, &outCursor, &outLeft) != static_cast<size_t>(-1))
      break;
    if (converter != reinterpret_cast<iconv_t>(-1) && errno == E2BIG) break;
    // An unconvertible byte: show it as '?' and go on after it.
    *outCursor++ = '?';
    --outLeft;
    ++inCursor;
    --inLeft;
  }
  *outCursor = 0;
}
