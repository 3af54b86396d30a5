#include "export.h"

#include "list_item.h"
#include "resource.h"

// The chat client's main window class and its message input field.
static const char kChatWindowClass[] = "KobbleClientMainWindow";
static const int kChatInputId = 4;

// Enter as the chat client expects it: the low word 0x1C01 fills the repeat
// count and the scan-code field stays 0. The client may rely on these values.
static const LPARAM kEnterDown = 0x00001C01;
static const LPARAM kEnterUp = (LPARAM)0xC0001C01;

// A live client answers at once; a hung one is given up on after this long.
static const UINT kSetTextTimeoutMs = 5000;

void fnListToChat(HWND dialog)
{
    HWND list = GetDlgItem(dialog, IDC_FILELIST);
    HWND chat = FindWindowA(kChatWindowClass, NULL);
    if (!chat) return;
    HWND input = GetDlgItem(chat, kChatInputId);
    if (!input) return;

    // LB_ERR (-1) counts as an empty list.
    int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
    char line[MAX_PATH];
    for (int i = 0; i < count; ++i) {
        fnListItemGet(list, i, line);
        // A client that does not answer, or whose window is gone, has a field
        // in an unknown state: the rest of the list is not typed into it.
        DWORD_PTR result;
        if (!SendMessageTimeoutA(input, WM_SETTEXT, 0, (LPARAM)line, SMTO_ABORTIFHUNG, kSetTextTimeoutMs, &result))
            return;
        Sleep(200);
        PostMessageA(input, WM_KEYDOWN, VK_RETURN, kEnterDown);
        Sleep(100);
        PostMessageA(input, WM_KEYUP, VK_RETURN, kEnterUp);
        Sleep(200);
    }
}
