#include "list_item.h"

#include <string.h>

size_t fnListItemLength(HWND list, int index)
{
    LRESULT length = SendMessageA(list, LB_GETTEXTLEN, (WPARAM)index, 0);
    return length >= 0 && length < MAX_PATH ? (size_t)length : 0;
}

size_t fnListItemGet(HWND list, int index, char (&line)[MAX_PATH])
{
    line[0] = '\0';
    // An empty or unreadable item is not fetched at all.
    if (fnListItemLength(list, index) == 0) return 0;
    if (SendMessageA(list, LB_GETTEXT, (WPARAM)index, (LPARAM)line) == LB_ERR) line[0] = '\0';
    line[MAX_PATH - 1] = '\0';
    return strlen(line);
}
