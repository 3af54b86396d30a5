// The real main dialog, created from the program's own template, fed drops
// as the shell delivers them and commands as the dialog manager sends them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app.h"
#include "drop_fixture.h"
#include "resource.h"

namespace {

using Items = std::vector<std::string>;

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(GetACP(), 932u) << "tests expect the Japanese ANSI code page";
        dialog = CreateMainDialog();
        ASSERT_NE(dialog, nullptr);
    }
    void TearDown() override
    {
        if (dialog) DestroyWindow(dialog);
    }
    void Drop(HDROP drop) { SendMessageA(dialog, WM_DROPFILES, (WPARAM)drop, 0); }

    HWND dialog = nullptr;
};

// 259 bytes is the most a listed path holds: the 260-byte buffer less its NUL.
const size_t kLongest = 259;

struct DropCase {
    const char *what;
    std::vector<std::wstring> names;
    Items listed;  // ANSI (cp932) bytes
};

std::vector<DropCase> DropCases()
{
    const std::wstring a300(300 - 3, L'a');
    // U+4E9C is 88 9F in cp932: its trail byte is also a valid lead byte, so
    // only a walk from the start tells where the characters begin.
    const std::wstring dbcs(200, L'\u4E9C');
    const std::string dbcs_ansi = ToAnsi(dbcs);
    return {
        {"three files, in the shell's order",
         {L"C:\\a.txt", L"D:\\dir\\b c.doc", L"C:\\z\\c"},
         {"C:\\a.txt", "D:\\dir\\b c.doc", "C:\\z\\c"}},
        {"a folder, not expanded", {L"C:\\Program Files"}, {"C:\\Program Files"}},
        {"duplicates kept", {L"C:\\x", L"C:\\x"}, {"C:\\x", "C:\\x"}},
        {"double-byte names", {L"C:\\日本語\\ファイル 名.txt", L"Z:\\表示"},
         {ToAnsi(L"C:\\日本語\\ファイル 名.txt"), ToAnsi(L"Z:\\表示")}},
        {"long ASCII path cut to 259 bytes", {L"C:\\" + a300},
         {("C:\\" + std::string(a300.begin(), a300.end())).substr(0, kLongest)}},
        {"cut between two double-byte characters keeps 259 bytes", {L"C:\\" + dbcs},
         {"C:\\" + dbcs_ansi.substr(0, kLongest - 3)}},
        {"cut inside a double-byte character drops the half", {L"C:\\x" + dbcs},
         {"C:\\x" + dbcs_ansi.substr(0, kLongest - 5)}},
        {"the cut half after a single-byte trail-like byte", {L"C:\\\uFF71" + dbcs},
         {"C:\\" + ToAnsi(L"\uFF71") + dbcs_ansi.substr(0, kLongest - 5)}},
    };
}

TEST_F(DialogTest, WideAndAnsiDropsListEachPathAsTheShellGivesIt)
{
    for (const auto &c : DropCases()) {
        SCOPED_TRACE(c.what);
        Drop(MakeWideDrop(c.names));
        EXPECT_EQ(ListItems(dialog), c.listed) << "wide drop";

        std::vector<std::string> ansi_names;
        for (const auto &name : c.names) ansi_names.push_back(ToAnsi(name));
        Drop(MakeAnsiDrop(ansi_names));
        EXPECT_EQ(ListItems(dialog), c.listed) << "ANSI drop";
    }
}

TEST_F(DialogTest, NextDropReplacesTheList)
{
    Drop(MakeWideDrop({L"C:\\a", L"C:\\b", L"C:\\c"}));
    Drop(MakeWideDrop({L"C:\\d"}));
    EXPECT_EQ(ListItems(dialog), Items({"C:\\d"}));
}

TEST_F(DialogTest, DropOfNoItemsListsNoPath)
{
    // Windows counts no items in an empty drop; Wine counts one, for which it
    // gives no path. Either way the old list goes and no stale path is listed.
    HDROP twin = MakeWideDrop({});
    UINT count = DragQueryFileA(twin, 0xFFFFFFFF, NULL, 0);
    GlobalFree(twin);
    ASSERT_LE(count, 1u);

    Drop(MakeWideDrop({L"C:\\a", L"C:\\b"}));
    Drop(MakeWideDrop({}));
    EXPECT_EQ(ListItems(dialog), Items(count, ""));
}

TEST_F(DialogTest, DropHandlingReportsTheMessageHandled)
{
    HDROP drop = MakeWideDrop({L"C:\\a"});
    EXPECT_EQ(fnDlgMain(dialog, WM_DROPFILES, (WPARAM)drop, 0), TRUE);
    // DragFinish released the block.
    EXPECT_EQ(GlobalSize(drop), 0u);
}

TEST_F(DialogTest, CommandsWithANotificationCodeDoNotEndTheDialog)
{
    for (WORD code : {(WORD)BN_SETFOCUS, (WORD)BN_KILLFOCUS, (WORD)1}) {
        SCOPED_TRACE(code);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, code), 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, code), 0);
        EXPECT_TRUE(IsWindowVisible(dialog));
    }
    // A plain IDOK does end it (EndDialog hides a modeless dialog).
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(IsWindowVisible(dialog));
}

TEST_F(DialogTest, TemplateIsRegisteredAsDropTarget)
{
    EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    EXPECT_FALSE(fnDlgMain(dialog, WM_DESTROY, 0, 0));
    EXPECT_FALSE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
}

// Filling the list while it repaints after every item froze the window on
// large drops; it now repaints once, after the fill. A subclass that forwards
// every message tells what the list went through.
struct FillLog {
    bool redraw = true;  // as last set by WM_SETREDRAW
    int added_while_redrawing = 0;
    int added = 0;
    bool redraw_when_export_began = false;
    bool export_began = false;
} g_fill;
WNDPROC g_list_proc;

LRESULT CALLBACK LoggingList(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETREDRAW:
        g_fill.redraw = wParam != 0;
        break;
    case LB_ADDSTRING:
        ++g_fill.added;
        if (g_fill.redraw) ++g_fill.added_while_redrawing;
        break;
    case LB_GETCOUNT:
        // The clipboard export begins by counting the items.
        if (!g_fill.export_began && g_fill.added) {
            g_fill.export_began = true;
            g_fill.redraw_when_export_began = g_fill.redraw;
        }
        break;
    }
    return CallWindowProcA(g_list_proc, list, message, wParam, lParam);
}

std::vector<std::wstring> Paths(int count)
{
    std::vector<std::wstring> paths;
    for (int i = 0; i < count; ++i) paths.push_back(L"C:\\フォルダ\\file" + std::to_wstring(i) + L".txt");
    return paths;
}

// The list's client area as it paints itself, pixel by pixel.
std::vector<DWORD> ClientPixels(HWND list)
{
    RECT client;
    GetClientRect(list, &client);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HDC dc = CreateCompatibleDC(NULL);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageA(list, WM_PRINTCLIENT, (WPARAM)dc, PRF_CLIENT | PRF_ERASEBKGND);
    GdiFlush();
    std::vector<DWORD> pixels(static_cast<DWORD *>(bits), static_cast<DWORD *>(bits) + client.right * client.bottom);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

struct ListLook {
    bool scroll_bar;
    SCROLLINFO scroll;
    LRESULT top, caret, selection;
    std::vector<DWORD> pixels;
};

ListLook LookOf(HWND list)
{
    ListLook look = {};
    look.scroll_bar = (GetWindowLongA(list, GWL_STYLE) & WS_VSCROLL) != 0;
    look.scroll.cbSize = sizeof look.scroll;
    look.scroll.fMask = SIF_ALL;
    if (look.scroll_bar) GetScrollInfo(list, SB_VERT, &look.scroll);
    look.top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
    look.caret = SendMessageA(list, LB_GETCARETINDEX, 0, 0);
    look.selection = SendMessageA(list, LB_GETCURSEL, 0, 0);
    look.pixels = ClientPixels(list);
    return look;
}

int RowsThatFit(HWND list)
{
    RECT client;
    GetClientRect(list, &client);
    return client.bottom / (int)SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
}

// The straightforward fill, repainting after every item.
void Fill(HWND list, const std::vector<std::wstring> &paths)
{
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const auto &path : paths) SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)ToAnsi(path).c_str());
}

// Repainting is on: a change to the visible items now reaches the screen.
void ExpectLaterChangesRepainted(HWND list)
{
    UpdateWindow(list);
    SendMessageA(list, LB_INSERTSTRING, 0, (LPARAM) "C:\\later");
    RECT update;
    EXPECT_TRUE(GetUpdateRect(list, &update, FALSE)) << "a later change is not repainted";
}

TEST_F(DialogTest, DropRepaintsTheListOnceAndLeavesItAsAPlainFillWould)
{
    HWND list = GetDlgItem(dialog, IDC_FILELIST);
    g_list_proc = (WNDPROC)SetWindowLongPtrA(list, GWLP_WNDPROC, (LONG_PTR)LoggingList);
    // Filled the straightforward way, for comparison.
    HWND reference = CreateMainDialog();
    ASSERT_NE(reference, nullptr);
    HWND reference_list = GetDlgItem(reference, IDC_FILELIST);
    const int rows = RowsThatFit(list);
    ASSERT_GT(rows, 1);

    for (int count : {1, rows, rows + 1, 200}) {
        SCOPED_TRACE(count);
        // Both lists come from a long list scrolled to its end, and the focus
        // is on a button.
        Drop(MakeWideDrop(Paths(300)));
        Fill(reference_list, Paths(300));
        for (HWND each : {list, reference_list}) SendMessageA(each, LB_SETTOPINDEX, 290, 0);
        SetFocus(GetDlgItem(dialog, IDC_COPY));
        UpdateWindow(dialog);
        UpdateWindow(reference);

        g_fill = FillLog{};
        Drop(MakeWideDrop(Paths(count)));
        EXPECT_EQ(g_fill.added, count);
        EXPECT_EQ(g_fill.added_while_redrawing, 0) << "repainted while filling";
        EXPECT_TRUE(g_fill.redraw) << "repainting left off";
        RECT update;
        EXPECT_TRUE(GetUpdateRect(list, &update, FALSE)) << "the filled list is never repainted";
        EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_COPY));
        EXPECT_EQ((int)SendMessageA(list, LB_GETCOUNT, 0, 0), count);

        Fill(reference_list, Paths(count));
        const ListLook look = LookOf(list), expected = LookOf(reference_list);
        EXPECT_EQ(look.scroll_bar, count > rows) << "scroll bar shown exactly when the items do not fit";
        EXPECT_EQ(look.scroll_bar, expected.scroll_bar);
        EXPECT_EQ(look.scroll.nMin, expected.scroll.nMin);
        EXPECT_EQ(look.scroll.nMax, expected.scroll.nMax);
        EXPECT_EQ(look.scroll.nPage, expected.scroll.nPage);
        EXPECT_EQ(look.scroll.nPos, 0);
        EXPECT_EQ(look.top, 0) << "first item at the top";
        EXPECT_EQ(look.caret, expected.caret);
        EXPECT_EQ(look.selection, expected.selection);
        EXPECT_EQ(look.pixels.size(), expected.pixels.size()) << "the client areas differ in size";
        EXPECT_TRUE(look.pixels == expected.pixels) << "the list paints differently";

        ExpectLaterChangesRepainted(list);
    }
    DestroyWindow(reference);
}

TEST_F(DialogTest, RepaintingIsBackOnAfterAnEmptyDropAndBeforeTheAutomaticCopy)
{
    HWND list = GetDlgItem(dialog, IDC_FILELIST);
    g_list_proc = (WNDPROC)SetWindowLongPtrA(list, GWLP_WNDPROC, (LONG_PTR)LoggingList);

    g_fill = FillLog{};
    Drop(MakeWideDrop({}));
    EXPECT_TRUE(g_fill.redraw) << "repainting left off after an empty drop";
    ExpectLaterChangesRepainted(list);

    CheckDlgButton(dialog, IDC_AUTOCLIPBOARD, BST_CHECKED);
    g_fill = FillLog{};
    Drop(MakeWideDrop(Paths(3)));
    ASSERT_TRUE(g_fill.export_began);
    EXPECT_TRUE(g_fill.redraw_when_export_began);
}

// Modal runs through the program's entry point.

TEST(EntryPoint, ReturnsTheCommandThatEndedTheDialog)
{
    for (WPARAM command : {(WPARAM)IDOK, (WPARAM)IDCANCEL}) {
        SCOPED_TRACE(command);
        int result = RunMainDialog([command](HWND dialog) {
            PostMessageA(dialog, WM_COMMAND, command, 0);
        });
        EXPECT_EQ(result, (int)command);
    }
}

TEST(EntryPoint, ReturnsMinusOneWhenTheTemplateIsMissing)
{
    // kernel32 holds no dialog 100.
    EXPECT_EQ(WinMain(GetModuleHandleA("kernel32.dll"), NULL, GetCommandLineA(), SW_SHOWNORMAL), -1);
}

TEST(EntryPoint, OpensWithBothBoxesUncheckedAnEmptyListAndFocusOnTheList)
{
    UINT clipboard = 99, send = 99;
    LRESULT count = -2;
    HWND focus = NULL, list = NULL;
    int result = RunMainDialog([&](HWND dialog) {
        clipboard = IsDlgButtonChecked(dialog, IDC_AUTOCLIPBOARD);
        send = IsDlgButtonChecked(dialog, IDC_AUTOSEND);
        count = SendDlgItemMessageA(dialog, IDC_FILELIST, LB_GETCOUNT, 0, 0);
        focus = GetFocus();
        list = GetDlgItem(dialog, IDC_FILELIST);
        EndDialog(dialog, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(clipboard, (UINT)BST_UNCHECKED);
    EXPECT_EQ(send, (UINT)BST_UNCHECKED);
    EXPECT_EQ(count, 0);
    EXPECT_NE(list, nullptr);
    EXPECT_EQ(focus, list);
}

// Keys reach the dialog manager as they do from the keyboard: posted to the
// control with the focus, then turned into commands by the modal loop.
struct KeyCase {
    const char *what;
    int focus_id;  // 0: leave the initial focus
    WPARAM key;
    int result;
};

TEST(EntryPoint, KeysEndTheDialogThroughTheDialogManager)
{
    const KeyCase cases[] = {
        {"Enter on the list box", 0, VK_RETURN, IDOK},
        {"Enter on a check box", IDC_AUTOCLIPBOARD, VK_RETURN, IDOK},
        {"Enter on the close button", IDOK, VK_RETURN, IDOK},
        {"Escape", 0, VK_ESCAPE, IDCANCEL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        int result = RunMainDialog([&c](HWND dialog) {
            if (c.focus_id) SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(dialog, c.focus_id), TRUE);
            PostMessageA(GetFocus(), WM_KEYDOWN, c.key, 1);
            PostMessageA(GetFocus(), WM_KEYUP, c.key, 0xC0000001);
        });
        EXPECT_EQ(result, c.result);
    }
}

TEST(EntryPoint, EnterOnTheCopyButtonDoesNotCloseTheDialog)
{
    int result = RunMainDialog([](HWND dialog) {
        SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(dialog, IDC_COPY), TRUE);
        PostMessageA(GetFocus(), WM_KEYDOWN, VK_RETURN, 1);
        PostMessageA(GetFocus(), WM_KEYUP, VK_RETURN, 0xC0000001);
        // Queued behind the keys: only reached if Enter left the dialog open.
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST(EntryPoint, CaptionCloseBoxEndsWithCancel)
{
    int result = RunMainDialog([](HWND dialog) {
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(result, IDCANCEL);
}

}  // namespace
