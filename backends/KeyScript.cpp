#include "KeyScript.h"

#include <cstring>

static bool ParseNumber(const char** cursor, int* value) {
  const char* text = *cursor;
  if (*text < '0' || *text > '9') return false;
  long long number = 0;
  while (*text >= '0' && *text <= '9') {
    number = number * 10 + (*text - '0');
    if (number > 1000000000) return false;
    ++text;
  }
  *value = static_cast<int>(number);
  *cursor = text;
  return true;
}

static bool ParseKeyName(const char** cursor, unsigned* bit) {
  static const struct {
    const char* name;
    VirtualKey key;
  } names[] = {{"left", KeyLeft},
               {"up", KeyUp},
               {"right", KeyRight},
               {"down", KeyDown},
               {"space", KeySpace}};
  for (const auto& entry : names) {
    const size_t length = std::strlen(entry.name);
    if (std::strncmp(*cursor, entry.name, length) == 0) {
      *bit = KeySetBit(entry.key);
      *cursor += length;
      return true;
    }
  }
  return false;
}

bool ParseKeyScript(const char* text, KeyScript* script) {
  script->spanCount = 0;
  if (*text == 0) return true;
  const char* cursor = text;
  for (;;) {
    KeySpan span = {};
    for (;;) {
      unsigned bit = 0;
      if (!ParseKeyName(&cursor, &bit)) return false;
      span.keys |= bit;
      if (*cursor != '+') break;
      ++cursor;
    }
    if (*cursor++ != '@') return false;
    if (!ParseNumber(&cursor, &span.first)) return false;
    if (*cursor++ != '-') return false;
    if (!ParseNumber(&cursor, &span.last) || span.last < span.first) return false;
    if (script->spanCount >= MaximumKeySpans) return false;
    script->spans[script->spanCount++] = span;
    if (*cursor == 0) return true;
    if (*cursor++ != ',') return false;
  }
}

unsigned KeysAtFrame(const KeyScript* script, int frame) {
  unsigned keys = 0;
  for (int index = 0; index < script->spanCount; ++index) {
    const KeySpan& span = script->spans[index];
    if (frame >= span.first && frame <= span.last) keys |= span.keys;
  }
  return keys;
}
