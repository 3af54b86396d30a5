#include "list_item.h"

#include <string.h>

size_t fnListItemGet(HWND list, int index, char (&line)[MAX_PATH])
{
    line[0] = '\0';
    LRESULT length = SendMessageA(list, LB_GETTEXTLEN, (WPARAM)index, 0);
    if (length < 0 || length >= MAX_PATH) return 0;
    if (SendMessageA(list, LB_GETTEXT, (WPARAM)index, (LPARAM)line) == LB_ERR) line[0] = '\0';
    line[MAX_PATH - 1] = '\0';
    return strlen(line);
}
