// The programs' view of the keyboard: the state the backend fixed for this pass.
#include "Platform.h"
#include "Tovalinex.h"

bool IsKeyHeld(int virtualKey) { return PlatformKeyHeld(static_cast<VirtualKey>(virtualKey)); }
