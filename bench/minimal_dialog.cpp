// The least a dialog program can be: WinMain shows a one-button dialog from
// its template and returns the dialog's result. The start-up benchmark
// measures pathdrop.exe against it.
#include <windows.h>

#include "minimal_dialog.h"

static INT_PTR CALLBACK fnDlgMinimal(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (wParam == IDOK || wParam == IDCANCEL) {
            EndDialog(dialog, (INT_PTR)wParam);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return (int)DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MINIMAL), NULL, fnDlgMinimal, 0);
}
