// The ways the file list leaves the program. Each takes the main dialog and
// reads the items straight from its file list.
#ifndef PATHDROP_EXPORT_H
#define PATHDROP_EXPORT_H

#include <windows.h>

// Puts the file list on the clipboard as CF_TEXT: every item followed by
// CR LF, then one NUL. Leaves the clipboard as it was when it cannot.
void fnListToClipboard(HWND dialog);

// Types each item into the running chat client's input field and presses
// Enter, with fixed pauses: 200 ms after the text, 100 ms between key-down
// and key-up, 200 ms after. Stops when the client does not take a text.
void fnListToChat(HWND dialog);

#endif
