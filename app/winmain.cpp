#include "app.h"

#include "../res/resource.h"

// The dialog's result (IDOK, IDCANCEL, or -1 when it cannot be created)
// becomes the process exit code unchanged.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return (int)DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), NULL, fnDlgMain, 0);
}
