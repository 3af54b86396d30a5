#include "export.h"

#include <string.h>

#include "list_item.h"
#include "resource.h"

// The text's size: every item, CR LF after each, one NUL. Items too long to
// read count as empty lines, as they are written.
static SIZE_T fnListTextSize(HWND list, int count)
{
    SIZE_T size = 1;
    for (int i = 0; i < count; ++i) size += fnListItemLength(list, i) + 2;
    return size;
}

// Writes the lines into a block of `size` zeroed bytes, never past its last
// byte, which stays the NUL even if the list changed since it was measured.
static void fnListTextWrite(HWND list, int count, char *text, SIZE_T size)
{
    char line[MAX_PATH];
    SIZE_T written = 0;
    for (int i = 0; i < count; ++i) {
        size_t length = fnListItemGet(list, i, line);
        if (written + length + 2 > size - 1) break;
        memcpy(text + written, line, length);
        written += length;
        text[written++] = '\r';
        text[written++] = '\n';
    }
}

void fnListToClipboard(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_FILELIST);
    if (!OpenClipboard(dialog)) return;

    // LB_ERR (-1) counts as an empty list.
    int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
    SIZE_T size = fnListTextSize(list, count);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!block) {
        CloseClipboard();
        return;
    }
    // A block that cannot be filled must not replace what the user has there.
    char *text = (char *)GlobalLock(block);
    if (!text) {
        GlobalFree(block);
        CloseClipboard();
        return;
    }
    fnListTextWrite(list, count, text, size);
    GlobalUnlock(block);

    EmptyClipboard();
    // On success the block belongs to the clipboard; otherwise it is still ours.
    if (!SetClipboardData(CF_TEXT, block)) GlobalFree(block);
    CloseClipboard();
}
