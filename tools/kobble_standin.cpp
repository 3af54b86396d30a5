// A stand-in for the Kobble chat client, to try pathdrop's relay without it:
//   wine kobble_standin.exe [--log FILE] [--ready FILE] [--hang-after N] [--no-field]
// then relay from pathdrop; each path shows up below the input field as a sent message.
//
// Its main window has the client's class, "KobbleClientMainWindow", and the
// message input field as child control 4 (a single-line ANSI edit). Enter
// pressed in the field (a posted WM_KEYDOWN VK_RETURN will do) sends its
// text: the text is added to the list below (control 5) and the field is
// cleared. Empty text sends nothing.
//
// Options (FILE is a Windows path; under Wine, Z: and then the Unix path):
//   --log FILE      appends one line per event to FILE, each written at once.
//   --ready FILE    once the window exists, writes "<hwnd hex> <pid>\n" to
//                   FILE; the file appears whole (written aside, then renamed).
//   --hang-after N  after the Nth WM_SETTEXT to the field (logged and
//                   answered), logs "hang" and stops processing messages.
//   --no-field      creates no control 4.
// Exit code 0 when the window is closed, 1 on a failure to start, 2 on a
// usage error.
//
// Log lines, each ended by "\n", fields split by one space:
//   <ms> settext <bytes>            WM_SETTEXT reached the field
//   <ms> keydown <wParam> <lParam>  WM_KEYDOWN reached the field
//   <ms> keyup <wParam> <lParam>    WM_KEYUP reached the field
//   <ms> sent <bytes>               Enter sent the field's text
//   <ms> hang                       --hang-after took effect
// <ms> is GetTickCount() in decimal: milliseconds since the system started,
// the same clock in every process. <bytes> is the text in the ANSI code page
// as lowercase hex, two digits a byte with no separator, or "-" when empty.
// <wParam> and <lParam> are 32-bit values as 0x and lowercase hex ("0xd").
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kClassName[] = "KobbleClientMainWindow";
const char kTitle[] = "Kobble stand-in";
const int kFieldId = 4;
const int kSentListId = 5;
const int kFieldHeight = 24;

HANDLE logFile = INVALID_HANDLE_VALUE;
long hangAfter = 0; // 0: never
long setTextCount = 0;
WNDPROC fieldProc = nullptr;
HWND sentList = nullptr;

std::string hexBytes(const char *text)
{
    if (!text || !*text)
        return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char *p = (const unsigned char *)text; *p; ++p) {
        out += digits[*p >> 4];
        out += digits[*p & 15];
    }
    return out;
}

std::string hexValue(DWORD value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%lx", (unsigned long)value);
    return buffer;
}

// One WriteFile per line on an append handle: nothing is buffered, and a
// reader never sees part of a line followed by another process's bytes.
void logEvent(const std::string &event)
{
    if (logFile == INVALID_HANDLE_VALUE)
        return;
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%lu ", (unsigned long)GetTickCount());
    const std::string line = stamp + event + "\n";
    DWORD written = 0;
    WriteFile(logFile, line.data(), (DWORD)line.size(), &written, nullptr);
}

std::string fieldText(HWND field)
{
    const int length = GetWindowTextLengthA(field);
    std::string text((size_t)length + 1, '\0');
    const int copied = GetWindowTextA(field, &text[0], length + 1);
    text.resize(copied > 0 ? (size_t)copied : 0);
    return text;
}

void sendFieldText(HWND field)
{
    const std::string text = fieldText(field);
    if (text.empty())
        return;
    logEvent("sent " + hexBytes(text.c_str()));
    const LRESULT index = SendMessageA(sentList, LB_ADDSTRING, 0, (LPARAM)text.c_str());
    if (index >= 0)
        SendMessageA(sentList, LB_SETTOPINDEX, (WPARAM)index, 0);
    // Straight to the edit's own procedure: clearing is no WM_SETTEXT to log.
    CallWindowProcA(fieldProc, field, WM_SETTEXT, 0, (LPARAM)"");
}

LRESULT CALLBACK fieldSubclass(HWND field, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETTEXT: {
        logEvent("settext " + hexBytes((const char *)lParam));
        const LRESULT result = CallWindowProcA(fieldProc, field, message, wParam, lParam);
        if (hangAfter > 0 && ++setTextCount == hangAfter) {
            // The sender gets its answer; everything after it finds us hung.
            ReplyMessage(result);
            logEvent("hang");
            Sleep(INFINITE);
        }
        return result;
    }
    case WM_KEYDOWN:
    case WM_KEYUP:
        logEvent(std::string(message == WM_KEYDOWN ? "keydown " : "keyup ") +
                 hexValue((DWORD)wParam) + " " + hexValue((DWORD)lParam));
        if (message == WM_KEYDOWN && wParam == VK_RETURN) {
            sendFieldText(field);
            return 0;
        }
        break;
    }
    return CallWindowProcA(fieldProc, field, message, wParam, lParam);
}

HWND createField(HWND window, HFONT font)
{
    // ES_AUTOHSCROLL: without it the edit drops text wider than itself.
    HWND field = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 0, 0,
                                 window, (HMENU)(INT_PTR)kFieldId, nullptr, nullptr);
    if (!field)
        return nullptr;
    SendMessageA(field, WM_SETFONT, (WPARAM)font, FALSE);
    SendMessageA(field, EM_SETLIMITTEXT, 0, 0);
    // An ANSI procedure: texts arrive as the sender's ANSI bytes.
    fieldProc = (WNDPROC)SetWindowLongPtrA(field, GWLP_WNDPROC, (LONG_PTR)fieldSubclass);
    return field;
}

void layout(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    HWND field = GetDlgItem(window, kFieldId);
    const int top = field ? kFieldHeight : 0;
    if (field)
        MoveWindow(field, 0, 0, client.right, kFieldHeight, TRUE);
    MoveWindow(sentList, 0, top, client.right, client.bottom > top ? client.bottom - top : 0,
               TRUE);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        layout(window);
        return 0;
    case WM_SETFOCUS: {
        HWND field = GetDlgItem(window, kFieldId);
        if (field)
            SetFocus(field);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool parseCount(const char *text, long *value)
{
    char *end = nullptr;
    *value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && *value > 0;
}

// Writes aside and renames, so whoever waits for the file reads it whole.
bool writeReadyFile(const char *path, HWND window)
{
    char content[64];
    const int length = std::snprintf(content, sizeof content, "%lx %lu\n",
                                     (unsigned long)(UINT_PTR)window,
                                     (unsigned long)GetCurrentProcessId());
    const std::string temporary = std::string(path) + ".tmp";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, content, (DWORD)length, &written, nullptr) &&
                    written == (DWORD)length;
    CloseHandle(file);
    return ok && MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING);
}

int fail(const char *what)
{
    std::fprintf(stderr, "kobble_standin: %s (error %lu)\n", what, GetLastError());
    return 1;
}

int usage()
{
    std::fprintf(stderr, "usage: kobble_standin [--log FILE] [--ready FILE] [--hang-after N] "
                         "[--no-field]\n");
    return 2;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    const char *logPath = nullptr;
    const char *readyPath = nullptr;
    bool withField = true;
    for (int i = 1; i < __argc; ++i) {
        const std::string option = __argv[i];
        const bool hasValue = i + 1 < __argc;
        if (option == "--log" && hasValue)
            logPath = __argv[++i];
        else if (option == "--ready" && hasValue)
            readyPath = __argv[++i];
        else if (option == "--hang-after" && hasValue && parseCount(__argv[i + 1], &hangAfter))
            ++i;
        else if (option == "--no-field")
            withField = false;
        else
            return usage();
    }

    if (logPath) {
        logFile = CreateFileA(logPath, FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (logFile == INVALID_HANDLE_VALUE)
            return fail("cannot open the log file");
    }

    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassExA(&windowClass))
        return fail("cannot register the window class");

    HWND window = CreateWindowExA(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 480, 320, nullptr, nullptr, instance, nullptr);
    if (!window)
        return fail("cannot create the window");
    // Wine maps MS Gothic to a font with the Japanese characters.
    HFONT font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             FIXED_PITCH | FF_MODERN, "MS Gothic");
    if (!font)
        font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    sentList = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", "",
                               WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, 0, 0, 0,
                               0, window, (HMENU)(INT_PTR)kSentListId, instance, nullptr);
    if (!sentList)
        return fail("cannot create the list of sent messages");
    SendMessageA(sentList, WM_SETFONT, (WPARAM)font, FALSE);
    if (withField && !createField(window, font))
        return fail("cannot create the input field");

    layout(window);
    ShowWindow(window, show);
    UpdateWindow(window);
    if (readyPath && !writeReadyFile(readyPath, window))
        return fail("cannot write the ready file");

    // No IsDialogMessage: it would turn a posted Enter into a dialog command
    // instead of a WM_KEYDOWN for the field.
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return (int)message.wParam;
}
