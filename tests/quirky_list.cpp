#include "quirky_list.h"

#include "resource.h"

ListQuirks g_quirks;

namespace {

WNDPROC g_list_proc;

LRESULT CALLBACK QuirkyList(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == LB_GETCOUNT && g_quirks.count_error) return LB_ERR;
    if (message == LB_GETTEXTLEN && (int)wParam == g_quirks.too_long_index) return 1000;
    if (message == LB_GETTEXTLEN && (int)wParam == g_quirks.understated_index) return 1;
    if (message == LB_GETTEXT && (int)wParam == g_quirks.too_long_index) {
        g_quirks.text_fetched_for_too_long = true;
        return LB_ERR;
    }
    return CallWindowProcA(g_list_proc, list, message, wParam, lParam);
}

}  // namespace

void MakeListQuirky(HWND dialog)
{
    g_quirks = ListQuirks{};
    g_list_proc = (WNDPROC)SetWindowLongPtrA(GetDlgItem(dialog, IDC_FILELIST), GWLP_WNDPROC, (LONG_PTR)QuirkyList);
}
