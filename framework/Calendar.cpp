// Calendar time for the programs (the mini-game seeds its enemies with it).
#include "Platform.h"
#include "Tovalinex.h"

long long CalendarSeconds() { return PlatformCalendarSeconds(); }
