// Makes the dialog's file list report odd values, as a list box filled or
// subclassed by another program might, to show the exports stay in bounds.
#ifndef PATHDROP_TESTS_QUIRKY_LIST_H
#define PATHDROP_TESTS_QUIRKY_LIST_H

#include <windows.h>

struct ListQuirks {
    bool count_error = false;       // LB_GETCOUNT answers LB_ERR
    int too_long_index = -1;        // reports 1000 bytes: fetching it would overrun
    int understated_index = -1;     // reports 1 byte, gives its real text
    bool text_fetched_for_too_long = false;
};

// What the list does now; reset by MakeListQuirky.
extern ListQuirks g_quirks;

// Subclasses the dialog's file list so that it follows g_quirks.
void MakeListQuirky(HWND dialog);

#endif
