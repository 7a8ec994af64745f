// Shift-JIS in its code-page-932 form, converted with iconv.
#pragma once

#include <cstddef>
#include <cstdint>

inline bool IsCp932LeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
inline bool IsCp932TrailByte(unsigned char byte) {
  return byte >= 0x40 && byte <= 0xFC && byte != 0x7F;
}

// The lead bytes numbered from 0: 0x81-0x9F are 0-30, 0xE0-0xFC 31-59.
constexpr int Cp932LeadByteCount = 60;
inline int Cp932LeadIndex(unsigned char lead) {
  return lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31;
}

// The Unicode code point of one character: a single byte, or lead << 8 | trail.
// 0 when code page 932 has no such character.
uint32_t Cp932CodeToUnicode(unsigned code);

// Converts a zero-terminated text to UTF-8 in `out` (always terminated);
// what cannot be converted becomes '?'.
void Cp932ToUtf8(const char* text, char* out, size_t size);
