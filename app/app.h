// The main dialog's procedure and the helpers that own the file list.
#ifndef PATHDROP_APP_H
#define PATHDROP_APP_H

#include <windows.h>

extern "C" INT_PTR CALLBACK fnDlgMain(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Empties the file list; returns the result of LB_RESETCONTENT.
LRESULT fnListClear(HWND dialog);

// Appends one path to the end of the file list; returns the result of LB_ADDSTRING.
LRESULT fnListAdd(HWND dialog, const char *path);

#endif
