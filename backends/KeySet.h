// The five keys the programs poll, as bits of one set: how scripted and
// recorded key states are stored.
#pragma once

#include "Tovalinex.h"

// Bit of a key in a key set; 0 for keys the programs never poll.
inline unsigned KeySetBit(int virtualKey) {
  switch (virtualKey) {
    case KeyLeft: return 1u;
    case KeyUp: return 2u;
    case KeyRight: return 4u;
    case KeyDown: return 8u;
    case KeySpace: return 16u;
    default: return 0u;
  }
}
