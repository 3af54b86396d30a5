// Reading one item of the file list into a MAX_PATH line buffer.
#ifndef PATHDROP_LIST_ITEM_H
#define PATHDROP_LIST_ITEM_H

#include <windows.h>

// The length in bytes of item `index` as it will be read: 0 for an item that
// would not fit a MAX_PATH line buffer or reports an error.
size_t fnListItemLength(HWND list, int index);

// Copies item `index` of `list` into `line` and returns its length in bytes.
// An item that would not fit the buffer, or cannot be read, gives an empty
// line: the list box is a control any process can fill.
size_t fnListItemGet(HWND list, int index, char (&line)[MAX_PATH]);

#endif
