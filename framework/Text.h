// Text output's state shared with the surfaces' set-up.
#pragma once

// Columns of the text strip that may hold ink from the previous text; the
// rest is key colour already. Clearing and copying only these gives the same
// picture as clearing and copying the whole strip every time. 0 once the strip
// has been filled with the key colour.
extern int TextStripDirtyColumns;
