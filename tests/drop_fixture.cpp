#include "drop_fixture.h"

#include <shlobj.h>

#include <cstring>

#include "app.h"
#include "resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int);

namespace {

template <typename Char>
HDROP MakeDrop(const std::vector<std::basic_string<Char>> &names, BOOL wide)
{
    // The empty name that ends the list, and one more NUL: Wine's parser
    // reads a character past the end of an empty list.
    size_t chars = 2;
    for (const auto &name : names) chars += name.size() + 1;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + chars * sizeof(Char));
    auto *header = static_cast<DROPFILES *>(GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = wide;
    auto *out = reinterpret_cast<Char *>(header + 1);
    for (const auto &name : names) {
        std::memcpy(out, name.c_str(), (name.size() + 1) * sizeof(Char));
        out += name.size() + 1;
    }
    GlobalUnlock(block);
    return static_cast<HDROP>(block);
}

std::function<void(HWND)> g_inside;

BOOL CALLBACK FindDialog(HWND window, LPARAM found)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, "#32770") != 0) return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

void CALLBACK OnceInsideModalLoop(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(NULL, timer);
    HWND dialog = NULL;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    g_inside(dialog);
}

}  // namespace

HDROP MakeWideDrop(const std::vector<std::wstring> &names) { return MakeDrop(names, TRUE); }
HDROP MakeAnsiDrop(const std::vector<std::string> &names) { return MakeDrop(names, FALSE); }

std::string ToAnsi(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string ansi(size, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), (int)text.size(), ansi.data(), size, NULL, NULL);
    return ansi;
}

std::vector<std::string> ListItems(HWND dialog)
{
    std::vector<std::string> items;
    LRESULT count = SendDlgItemMessageA(dialog, IDC_FILELIST, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendDlgItemMessageA(dialog, IDC_FILELIST, LB_GETTEXTLEN, i, 0);
        std::string item(length + 1, '\0');
        SendDlgItemMessageA(dialog, IDC_FILELIST, LB_GETTEXT, i, (LPARAM)item.data());
        item.resize(std::strlen(item.c_str()));
        items.push_back(item);
    }
    return items;
}

HWND CreateMainDialog()
{
    return CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN), NULL, fnDlgMain, 0);
}

int RunMainDialog(const std::function<void(HWND)> &inside)
{
    g_inside = inside;
    SetTimer(NULL, 0, 1, OnceInsideModalLoop);
    return WinMain(GetModuleHandleA(NULL), NULL, GetCommandLineA(), SW_SHOWNORMAL);
}

void PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
