// Key scripts: which keys are held in which frames, written
// "KEY[+KEY...]@FROM-TO,..." with keys left up right down space and frames
// inclusive, e.g. right@0-29,space+up@10-12.
#pragma once

#include "KeySet.h"

struct KeySpan {
  unsigned keys;  // a set of KeySetBit values
  int first;      // frames, inclusive
  int last;
};

constexpr int MaximumKeySpans = 256;

struct KeyScript {
  KeySpan spans[MaximumKeySpans];
  int spanCount;
};

// Parses a script; false on any syntax error or too many spans. An empty
// text is a script with no keys.
bool ParseKeyScript(const char* text, KeyScript* script);
// The keys the script holds in a frame.
unsigned KeysAtFrame(const KeyScript* script, int frame);
