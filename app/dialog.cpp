#include "app.h"

#include <shellapi.h>

#include "../export/export.h"
#include "../res/resource.h"

// A cut at the buffer's end can split a double-byte character and leave its
// lead byte alone at the end. Walking from the start is the only way to tell
// a lead byte from a trail byte, whose values overlap; a lone one is dropped.
static void fnPathTrimSplitChar(char *path)
{
    char *p = path;
    while (*p) {
        if (IsDBCSLeadByte((BYTE)*p)) {
            if (p[1] == '\0') {
                *p = '\0';
                return;
            }
            p += 2;
        } else {
            p += 1;
        }
    }
}

// Replaces the file list with the dropped paths, in the shell's order.
static void fnDropToList(HWND dialog, HDROP drop)
{
    char path[MAX_PATH];
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, path, MAX_PATH);
    // A visible list box repaints and resizes its scroll bar on every item it
    // gets, which freezes the window for seconds on a drop of thousands of
    // paths; it is painted once, after the fill, instead.
    HWND list = GetDlgItem(dialog, IDC_FILELIST);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    fnListClear(dialog);
    for (UINT i = 0; i < count; ++i) {
        // An index that yields no path appends an empty item, never a stale one.
        path[0] = '\0';
        DragQueryFileA(drop, i, path, MAX_PATH);
        path[MAX_PATH - 1] = '\0';
        fnPathTrimSplitChar(path);
        fnListAdd(dialog, path);
    }
    DragFinish(drop);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, NULL, TRUE);
}

extern "C" INT_PTR CALLBACK fnDlgMain(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        DragAcceptFiles(dialog, TRUE);
        return TRUE;
    case WM_DESTROY:
        DragAcceptFiles(dialog, FALSE);
        return FALSE;
    case WM_DROPFILES:
        fnDropToList(dialog, (HDROP)wParam);
        // In this order, one after the other: the relay starts once the
        // clipboard already holds the new list.
        if (IsDlgButtonChecked(dialog, IDC_AUTOCLIPBOARD)) fnListToClipboard(dialog);
        if (IsDlgButtonChecked(dialog, IDC_AUTOSEND)) fnListToChat(dialog);
        return TRUE;
    case WM_COMMAND:
        // The whole wParam is compared, so only notification code 0 matches.
        switch (wParam) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, (INT_PTR)wParam);
            return TRUE;
        case IDC_COPY:
            fnListToClipboard(dialog);
            return TRUE;
        case IDC_SEND:
            fnListToChat(dialog);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
