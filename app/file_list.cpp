#include "app.h"

#include "../res/resource.h"

LRESULT fnListClear(HWND dialog)
{
    return SendMessageA(GetDlgItem(dialog, IDC_FILELIST), LB_RESETCONTENT, 0, 0);
}

LRESULT fnListAdd(HWND dialog, const char *path)
{
    return SendMessageA(GetDlgItem(dialog, IDC_FILELIST), LB_ADDSTRING, 0, (LPARAM)path);
}
