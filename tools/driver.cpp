// Finds the running pathdrop dialog from another process and reports on it,
// for tests that drive the program from outside. Prints UTF-8, one value or
// item a line. Exit code 0 on success, 1 when the dialog or the answer is
// missing, 2 on a usage error.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const wchar_t kCaption[] = L"エクスプローラからドラッグ&ドロップでファイル名を取出すユーティリティ";
// Cross-process messages give up after this long rather than hang a test.
const UINT kSendTimeoutMs = 5000;

HWND findDialog()
{
    return FindWindowW(L"#32770", kCaption);
}

HWND requireDialog()
{
    HWND dialog = findDialog();
    if (!dialog)
        std::fprintf(stderr, "driver: no dialog with the pathdrop caption\n");
    return dialog;
}

bool send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result)
{
    DWORD_PTR value = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &value)) {
        std::fprintf(stderr, "driver: message 0x%04x got no answer\n", message);
        return false;
    }
    *result = (LRESULT)value;
    return true;
}

std::string toUtf8(const wchar_t *text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(size - 1);
    return out;
}

void printLine(const std::string &line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

void printRect(const RECT &r)
{
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
}

bool parseInt(const char *text, long *value)
{
    char *end = nullptr;
    *value = std::strtol(text, &end, 10);
    return end != text && *end == '\0';
}

// Waits until the dialog is visible and accepts shell drops.
int cmdWait(long timeoutMs)
{
    const DWORD start = GetTickCount();
    const char *state = "no dialog with the pathdrop caption";
    for (;;) {
        HWND dialog = findDialog();
        if (dialog) {
            state = "dialog not visible";
            if (IsWindowVisible(dialog)) {
                state = "dialog does not accept dropped files";
                if (GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) {
                    DWORD pid = 0;
                    GetWindowThreadProcessId(dialog, &pid);
                    std::printf("%lu\n", pid);
                    return 0;
                }
            }
        }
        if ((long)(GetTickCount() - start) >= timeoutMs)
            break;
        Sleep(50);
    }
    std::fprintf(stderr, "driver: gave up after %ld ms: %s\n", timeoutMs, state);
    return 1;
}

int cmdList()
{
    HWND dialog = requireDialog();
    if (!dialog)
        return 1;
    HWND list = GetDlgItem(dialog, 1000);
    if (!list) {
        std::fprintf(stderr, "driver: the dialog has no control 1000\n");
        return 1;
    }
    LRESULT count = 0;
    if (!send(list, LB_GETCOUNT, 0, 0, &count) || count == LB_ERR)
        return 1;
    std::string out;
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = 0;
        if (!send(list, LB_GETTEXTLEN, (WPARAM)i, 0, &length) || length == LB_ERR)
            return 1;
        // An ANSI list box may report its length in bytes, which is never
        // less than the UTF-16 length; the text ends at its terminator.
        std::wstring text((size_t)length + 1, L'\0');
        LRESULT copied = 0;
        if (!send(list, LB_GETTEXT, (WPARAM)i, (LPARAM)&text[0], &copied) || copied == LB_ERR)
            return 1;
        out += toUtf8(text.c_str());
        out += '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int cmdRect(long id)
{
    HWND dialog = requireDialog();
    if (!dialog)
        return 1;
    HWND window = id == 0 ? dialog : GetDlgItem(dialog, (int)id);
    RECT rect;
    if (!window || !GetWindowRect(window, &rect)) {
        std::fprintf(stderr, "driver: the dialog has no control %ld\n", id);
        return 1;
    }
    printRect(rect);
    return 0;
}

LRESULT hitTest(HWND window, long x, long y)
{
    LRESULT hit = HTNOWHERE;
    send(window, WM_NCHITTEST, 0, MAKELPARAM(x, y), &hit);
    return hit;
}

// Prints the screen point at the centre of the caption's close box. The box
// is found by asking the dialog itself (WM_NCHITTEST) along the caption's
// middle row and column, so the point is one the window treats as HTCLOSE.
int cmdCloseBox()
{
    HWND dialog = requireDialog();
    if (!dialog)
        return 1;
    RECT window;
    GetWindowRect(dialog, &window);
    POINT client = {0, 0};
    ClientToScreen(dialog, &client);
    TITLEBARINFO info = {};
    info.cbSize = sizeof info;
    long row = (window.top + client.y) / 2;
    if (GetTitleBarInfo(dialog, &info) && info.rcTitleBar.bottom > info.rcTitleBar.top)
        row = (info.rcTitleBar.top + info.rcTitleBar.bottom) / 2;

    long left = -1, right = -1;
    for (long x = window.right - 1; x >= window.left; --x) {
        bool close = hitTest(dialog, x, row) == HTCLOSE;
        if (close && right < 0)
            right = x;
        if (close)
            left = x;
        else if (right >= 0)
            break;
    }
    if (right < 0) {
        std::fprintf(stderr, "driver: no HTCLOSE on row %ld from x=%ld to %ld\n", row, window.left,
                     window.right - 1);
        return 1;
    }
    const long column = (left + right) / 2;
    long top = row, bottom = row;
    while (top > window.top && hitTest(dialog, column, top - 1) == HTCLOSE)
        --top;
    while (bottom < window.bottom - 1 && hitTest(dialog, column, bottom + 1) == HTCLOSE)
        ++bottom;
    std::printf("%ld %ld\n", column, (top + bottom) / 2);
    return 0;
}

// Prints the control id of the window with the keyboard focus on the
// dialog's thread: 0 for the dialog itself, "none" or "other" otherwise.
int cmdFocus()
{
    HWND dialog = requireDialog();
    if (!dialog)
        return 1;
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) {
        std::fprintf(stderr, "driver: GetGUIThreadInfo failed (%lu)\n", GetLastError());
        return 1;
    }
    if (!info.hwndFocus)
        printLine("none");
    else if (info.hwndFocus == dialog)
        printLine("0");
    else if (IsChild(dialog, info.hwndFocus))
        std::printf("%d\n", GetDlgCtrlID(info.hwndFocus));
    else
        printLine("other");
    return 0;
}

// Prints what a failing test wants to know, as "name value" lines.
int cmdState()
{
    HWND dialog = requireDialog();
    if (!dialog)
        return 1;
    DWORD pid = 0;
    const DWORD thread = GetWindowThreadProcessId(dialog, &pid);
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(thread, &info);
    RECT rect;
    GetWindowRect(dialog, &rect);
    std::printf("pid %lu\n", pid);
    std::printf("visible %d\n", IsWindowVisible(dialog) ? 1 : 0);
    std::printf("accepts_files %d\n",
                (GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) ? 1 : 0);
    std::printf("foreground %d\n", GetForegroundWindow() == dialog ? 1 : 0);
    std::printf("active %d\n", info.hwndActive == dialog ? 1 : 0);
    std::printf("focus_id %d\n", info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : -1);
    std::printf("rect ");
    printRect(rect);
    return 0;
}

// Closes the dialog as its caption's close box does.
int cmdClose()
{
    HWND dialog = requireDialog();
    if (!dialog)
        return 1;
    return PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: driver wait [timeout_ms] | list | rect <control id, 0 = dialog> |\n"
                 "       closebox | focus | state | close\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    // "\n" ends lines as it does on the Linux side reading the output.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    long number = 0;
    if (command == "wait" && argc <= 3) {
        if (argc == 3 && !parseInt(argv[2], &number))
            return usage();
        return cmdWait(argc == 3 ? number : 10000);
    }
    if (command == "rect" && argc == 3 && parseInt(argv[2], &number))
        return cmdRect(number);
    if (argc != 2)
        return usage();
    if (command == "list")
        return cmdList();
    if (command == "closebox")
        return cmdCloseBox();
    if (command == "focus")
        return cmdFocus();
    if (command == "state")
        return cmdState();
    if (command == "close")
        return cmdClose();
    return usage();
}
