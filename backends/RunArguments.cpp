#include "RunArguments.h"

#include <cerrno>
#include <cstdlib>

bool ParseWholeNumber(const char* text, long long minimum, long long maximum, long long* value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != 0 || number < minimum || number > maximum) return false;
  *value = number;
  return true;
}

bool ParseFrameCount(const char* text, int* frames) {
  long long number = 0;
  if (!ParseWholeNumber(text, 0, 1000000000, &number)) return false;
  *frames = static_cast<int>(number);
  return true;
}

bool ParseCalendarSeconds(const char* text, long long* seconds) {
  return ParseWholeNumber(text, -(1LL << 62), 1LL << 62, seconds);
}
