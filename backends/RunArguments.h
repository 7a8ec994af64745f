// The numbers of a scripted run, read the same way wherever a run is asked
// for: the <program>-headless command line and the browser page's address.
#pragma once

// A whole decimal number from minimum to maximum with nothing after it.
bool ParseWholeNumber(const char* text, long long minimum, long long maximum, long long* value);
// How many frames to run: 0 to a thousand million.
bool ParseFrameCount(const char* text, int* frames);
// The calendar seconds the program reads, either side of 1970.
bool ParseCalendarSeconds(const char* text, long long* seconds);
