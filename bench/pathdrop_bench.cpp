// Measures pathdrop where a user can wait on it and prints the figures as
// plain-text tables that are also Markdown:
//   drop intake   WM_DROPFILES into the real, visible dialog, against the
//                 same list box road into a hidden copy of the dialog;
//   clipboard     fnListToClipboard, against the list box reads it makes;
//   relay         fnListToChat into the stand-in chat client, against the
//                 500 ms of pauses it makes per item;
//   start-up      pathdrop.exe's process start to visible dialog, against a
//                 minimal dialog program built the same way.
//
//   pathdrop_bench [--quick] [--reps N]
//     --quick   small sizes and one repetition: checks that every section runs.
//     --reps N  repetitions per figure (default 5; the relay runs at most 3);
//               every figure is the median.
// Environment (Windows paths; under Wine, Z: and then the Unix path):
//   PATHDROP_EXE             the program, for start-up
//   PATHDROP_MINIMAL_DIALOG  the minimal dialog program, for start-up
//   PATHDROP_STANDIN         the stand-in chat client, for the relay
// Exit code 0 when every section ran and checked out, 1 otherwise.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app.h"
#include "drop_fixture.h"
#include "export.h"
#include "resource.h"

namespace {

struct Options {
    bool quick = false;
    int reps = 5;
};

double g_tick_ms = 0;
bool g_failed = false;

double NowMs()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)now.QuadPart * g_tick_ms;
}

double TimeMs(const std::function<void()> &work)
{
    double start = NowMs();
    work();
    return NowMs() - start;
}

double Median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void Fail(const std::string &what)
{
    std::fprintf(stderr, "pathdrop_bench: %s\n", what.c_str());
    g_failed = true;
}

// --- Formatting -----------------------------------------------------------

std::string Format(const char *format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Three significant figures; whole units from 100 on.
std::string Figure(double value)
{
    double size = std::fabs(value);
    if (size >= 100) return Format("%.0f", value);
    if (size >= 10) return Format("%.1f", value);
    if (size >= 1) return Format("%.2f", value);
    return Format("%.3f", value);
}

std::string Ratio(double value) { return Format("%.2fx", value); }

std::string Count(size_t value)
{
    std::string digits = std::to_string(value), grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

// How the time grows with the count between two sizes: 1 linear, 2 square.
std::string Exponent(double time, double earlier_time, size_t count, size_t earlier_count)
{
    if (time <= 0 || earlier_time <= 0) return "-";
    return Format("%.2f", std::log(time / earlier_time) / std::log((double)count / earlier_count));
}

// Characters, not bytes, of UTF-8 text ("µs"): its continuation bytes do not count.
size_t Width(const std::string &text)
{
    return std::count_if(text.begin(), text.end(), [](char c) { return ((unsigned char)c & 0xC0) != 0x80; });
}

// A table whose columns line up as plain text and which Markdown renders;
// the first column is left-aligned, the figures right-aligned.
void PrintTable(const std::vector<std::string> &header, const std::vector<std::vector<std::string>> &rows)
{
    std::vector<size_t> width(header.size(), 3);
    for (size_t c = 0; c < header.size(); ++c) width[c] = std::max(width[c], Width(header[c]));
    for (const auto &row : rows)
        for (size_t c = 0; c < row.size() && c < width.size(); ++c) width[c] = std::max(width[c], Width(row[c]));
    auto line = [&](const std::vector<std::string> &cells) {
        std::string text = "|";
        for (size_t c = 0; c < width.size(); ++c) {
            std::string cell = c < cells.size() ? cells[c] : "";
            std::string pad(width[c] - Width(cell), ' ');
            text += " " + (c == 0 ? cell + pad : pad + cell) + " |";
        }
        std::printf("%s\n", text.c_str());
    };
    line(header);
    std::string rule = "|";
    for (size_t c = 0; c < width.size(); ++c)
        rule += c == 0 ? ":" + std::string(width[c] + 1, '-') + "|" : std::string(width[c] + 1, '-') + ":|";
    std::printf("%s\n", rule.c_str());
    for (const auto &row : rows) line(row);
    std::printf("\n");
    std::fflush(stdout);
}

void PrintTitle(const std::string &title, const std::string &note)
{
    std::printf("### %s\n\n%s\n\n", title.c_str(), note.c_str());
    std::fflush(stdout);
}

// --- Paths, drops and the dialogs ------------------------------------------

// Paths of the lengths the shell gives for documents and pictures, 40 to 70
// bytes in code page 932, Japanese folder and file names among them; no two
// alike.
std::vector<std::wstring> MakePaths(size_t count)
{
    static const wchar_t *const folders[] = {
        L"C:\\Users\\tanaka\\Documents\\見積書\\2024年度\\",
        L"C:\\Users\\tanaka\\Desktop\\案件資料\\",
        L"D:\\共有\\営業部\\月次報告\\2024\\",
        L"C:\\Users\\tanaka\\Pictures\\2023\\",
        L"E:\\写真\\2023年8月\\北海道旅行\\",
    };
    static const wchar_t *const names[] = {L"報告書_", L"IMG_", L"meeting-notes-", L"data_export_"};
    static const wchar_t *const extensions[] = {L".docx", L".jpg", L".txt", L".xlsx", L".pdf"};
    std::vector<std::wstring> paths;
    paths.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        wchar_t number[16];
        std::swprintf(number, 16, L"%05u", (unsigned)i);
        paths.push_back(std::wstring(folders[i % 5]) + names[(i / 5) % 4] + number + extensions[(i / 20) % 5]);
    }
    return paths;
}

std::vector<std::string> AnsiPaths(const std::vector<std::wstring> &paths)
{
    std::vector<std::string> ansi;
    ansi.reserve(paths.size());
    for (const auto &path : paths) ansi.push_back(ToAnsi(path));
    return ansi;
}

HWND FileList(HWND dialog) { return GetDlgItem(dialog, IDC_FILELIST); }

// The main dialog from the program's template, shown and painted.
HWND CreateShownDialog()
{
    HWND dialog = CreateMainDialog();
    if (!dialog) return NULL;
    ShowWindow(dialog, SW_SHOW);
    UpdateWindow(dialog);
    PumpMessages();
    return dialog;
}

// The same template with WS_VISIBLE taken off the dialog: its list box is
// the real control, never shown.
HWND CreateHiddenDialog()
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    HRSRC resource = FindResourceA(instance, MAKEINTRESOURCEA(IDD_MAIN), MAKEINTRESOURCEA(5));
    if (!resource) return NULL;
    DWORD size = SizeofResource(instance, resource);
    const void *data = LockResource(LoadResource(instance, resource));
    std::vector<DWORD> copy((size + 3) / 4);
    std::memcpy(copy.data(), data, size);
    // A DIALOGEX template starts with the words 1, 0xFFFF and has its style at byte 12.
    auto *words = reinterpret_cast<WORD *>(copy.data());
    DWORD *style = words[0] == 1 && words[1] == 0xFFFF ? &copy[3] : &copy[0];
    *style &= ~(DWORD)WS_VISIBLE;
    return CreateDialogIndirectParamA(instance, reinterpret_cast<DLGTEMPLATE *>(copy.data()), NULL, fnDlgMain, 0);
}

std::string ListItem(HWND list, int index)
{
    LRESULT length = SendMessageA(list, LB_GETTEXTLEN, index, 0);
    if (length < 0) return "";
    std::string item(length + 1, '\0');
    SendMessageA(list, LB_GETTEXT, index, (LPARAM)item.data());
    item.resize(std::strlen(item.c_str()));
    return item;
}

// The list holds exactly these items: the count, and the first and last in place.
bool ListHolds(HWND list, const std::vector<std::string> &items)
{
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    if (count != (LRESULT)items.size()) return false;
    return items.empty() || (ListItem(list, 0) == items.front() && ListItem(list, (int)count - 1) == items.back());
}

// Fills the list without painting it per item, then paints it once.
void FillList(HWND list, const std::vector<std::string> &items)
{
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const auto &item : items) SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)item.c_str());
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, NULL, TRUE);
    UpdateWindow(list);
}

void ClearList(HWND dialog)
{
    SendMessageA(FileList(dialog), LB_RESETCONTENT, 0, 0);
    UpdateWindow(dialog);
    PumpMessages();
}

// The road of a drop with nothing but what the drop needs: the count, the
// list emptied, and per index the path fetched, the list looked up by its
// identifier and the path appended; then the drop released.
void DropRoad(HWND dialog, HDROP drop)
{
    char path[MAX_PATH];
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, path, MAX_PATH);
    SendMessageA(GetDlgItem(dialog, IDC_FILELIST), LB_RESETCONTENT, 0, 0);
    for (UINT i = 0; i < count; ++i) {
        DragQueryFileA(drop, i, path, MAX_PATH);
        SendMessageA(GetDlgItem(dialog, IDC_FILELIST), LB_ADDSTRING, 0, (LPARAM)path);
    }
    DragFinish(drop);
}

// The drop's queries alone.
void QueryRoad(HDROP drop)
{
    char path[MAX_PATH];
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, path, MAX_PATH);
    for (UINT i = 0; i < count; ++i) DragQueryFileA(drop, i, path, MAX_PATH);
    DragFinish(drop);
}

// One query of one index, in µs: the mean of a few, as one is near the
// timer's resolution.
double QueryUs(HDROP drop, UINT index)
{
    const int calls = 20;
    char path[MAX_PATH];
    return TimeMs([&] {
               for (int i = 0; i < calls; ++i) DragQueryFileA(drop, index, path, MAX_PATH);
           }) * 1000 / calls;
}

// The drop's list messages alone, with the paths already converted; with
// `redraw` off, the list is told to skip its per-item upkeep as the drop does.
void AddRoad(HWND dialog, const std::vector<std::string> &paths, BOOL redraw)
{
    if (!redraw) SendMessageA(GetDlgItem(dialog, IDC_FILELIST), WM_SETREDRAW, FALSE, 0);
    SendMessageA(GetDlgItem(dialog, IDC_FILELIST), LB_RESETCONTENT, 0, 0);
    for (const auto &path : paths) SendMessageA(GetDlgItem(dialog, IDC_FILELIST), LB_ADDSTRING, 0, (LPARAM)path.c_str());
    if (!redraw) SendMessageA(GetDlgItem(dialog, IDC_FILELIST), WM_SETREDRAW, TRUE, 0);
}

// --- Drop intake -----------------------------------------------------------

void BenchDrop(const Options &options, HWND shown, HWND hidden)
{
    const std::vector<size_t> sizes = options.quick ? std::vector<size_t>{100, 300} : std::vector<size_t>{100, 1000, 3000, 10000};
    // Without the redraw suppression a visible list paints per item, tens of
    // seconds at a thousand paths here: the small sizes only, fewer runs.
    const size_t unsuppressed_small = 100, unsuppressed_large = options.quick ? 0 : 1000;
    const int unsuppressed_small_reps = std::min(options.reps, 3), unsuppressed_large_reps = 1;

    std::vector<size_t> bytes;
    for (const auto &path : AnsiPaths(MakePaths(1000))) bytes.push_back(path.size());
    double mean = 0;
    for (size_t b : bytes) mean += (double)b / bytes.size();

    struct Row {
        double drop = 0, repaint = 0, floor = 0, queries = 0, first_query = 0, last_query = 0, adds = 0,
               adds_unredrawn = 0, unsuppressed = -1;
    };
    std::vector<Row> rows;
    for (size_t size : sizes) {
        const std::vector<std::wstring> paths = MakePaths(size);
        const std::vector<std::string> ansi = AnsiPaths(paths);
        const int unsuppressed_reps = size == unsuppressed_small ? unsuppressed_small_reps
                                      : size == unsuppressed_large ? unsuppressed_large_reps
                                                                   : 0;
        std::vector<double> drop, repaint, floor, queries, first_query, last_query, adds, adds_unredrawn, unsuppressed;
        // Interleaved, so that a busy spell on the machine hits every column alike.
        for (int rep = 0; rep < options.reps; ++rep) {
            ClearList(shown);
            HDROP handle = MakeWideDrop(paths);
            drop.push_back(TimeMs([&] { SendMessageA(shown, WM_DROPFILES, (WPARAM)handle, 0); }));
            repaint.push_back(TimeMs([&] { UpdateWindow(shown); }));
            if (!ListHolds(FileList(shown), ansi)) Fail("the dialog's list does not hold the dropped paths");

            ClearList(hidden);
            handle = MakeWideDrop(paths);
            floor.push_back(TimeMs([&] { DropRoad(hidden, handle); }));
            if (!ListHolds(FileList(hidden), ansi)) Fail("the hidden list does not hold the dropped paths");

            handle = MakeWideDrop(paths);
            first_query.push_back(QueryUs(handle, 0));
            last_query.push_back(QueryUs(handle, (UINT)size - 1));
            queries.push_back(TimeMs([&] { QueryRoad(handle); }));
            ClearList(hidden);
            adds.push_back(TimeMs([&] { AddRoad(hidden, ansi, TRUE); }));
            ClearList(hidden);
            adds_unredrawn.push_back(TimeMs([&] { AddRoad(hidden, ansi, FALSE); }));
            if (!ListHolds(FileList(hidden), ansi)) Fail("the hidden list does not hold the added paths");

            if (rep < unsuppressed_reps) {
                ClearList(shown);
                handle = MakeWideDrop(paths);
                unsuppressed.push_back(TimeMs([&] {
                    DropRoad(shown, handle);
                    UpdateWindow(shown);
                }));
                if (!ListHolds(FileList(shown), ansi)) Fail("the visible list does not hold the dropped paths");
            }
            PumpMessages();
        }
        Row row;
        row.drop = Median(drop);
        row.repaint = Median(repaint);
        row.floor = Median(floor);
        row.queries = Median(queries);
        row.first_query = Median(first_query);
        row.last_query = Median(last_query);
        row.adds = Median(adds);
        row.adds_unredrawn = Median(adds_unredrawn);
        if (!unsuppressed.empty()) row.unsuppressed = Median(unsuppressed);
        rows.push_back(row);
    }
    ClearList(shown);
    ClearList(hidden);

    std::string unsuppressed_runs = "median of " + std::to_string(unsuppressed_small_reps) + " at " + Count(unsuppressed_small);
    if (unsuppressed_large) unsuppressed_runs += ", one run at " + Count(unsuppressed_large);
    PrintTitle("Drop intake",
               "WM_DROPFILES with a wide DROPFILES block (paths of " + Count(*std::min_element(bytes.begin(), bytes.end())) +
                   "-" + Count(*std::max_element(bytes.begin(), bytes.end())) + " bytes in code page " +
                   std::to_string(GetACP()) + ", " + Figure(mean) +
                   " on average) into the visible dialog, until SendMessage returns; then the one repaint after it "
                   "(UpdateWindow). Floor: the same list box road into a hidden copy of the dialog (count, "
                   "LB_RESETCONTENT, per path DragQueryFileA + GetDlgItem + LB_ADDSTRING, DragFinish). "
                   "Without suppression: the floor's road into the visible list, and its repaint (" +
                   unsuppressed_runs + "). Times in ms, median of " + std::to_string(options.reps) + ".");
    std::vector<std::vector<std::string>> table;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const Row &row = rows[i];
        table.push_back({Count(sizes[i]), Figure(row.drop), Figure(row.repaint), Figure(row.floor),
                         Ratio(row.drop / row.floor), Ratio((row.drop + row.repaint) / row.floor),
                         row.unsuppressed < 0 ? "-" : Figure(row.unsuppressed)});
    }
    PrintTable({"paths", "drop", "repaint", "floor", "drop/floor", "(drop+repaint)/floor", "without suppression"}, table);

    PrintTitle("Where the floor goes",
               "DragQueryFileA alone: the count, every index, DragFinish; and one query of the first and of the last "
               "index (mean of 20). The list box alone: LB_RESETCONTENT, then GetDlgItem + LB_ADDSTRING per "
               "converted path into the hidden list, as the floor does, and with WM_SETREDRAW FALSE around it as "
               "the drop does. Growth: the exponent k in time ~ paths^k from the size above (1 linear, 2 square). "
               "Totals in ms, the rest in µs; medians of " + std::to_string(options.reps) + ".");
    table.clear();
    for (size_t i = 0; i < sizes.size(); ++i) {
        const Row &row = rows[i];
        table.push_back({Count(sizes[i]), Figure(row.floor), Figure(row.queries), Figure(row.queries * 1000 / sizes[i]),
                         i ? Exponent(row.queries, rows[i - 1].queries, sizes[i], sizes[i - 1]) : "-",
                         Figure(row.first_query), Figure(row.last_query)});
    }
    PrintTable({"paths", "floor", "DragQueryFileA", "per path µs", "growth", "first index µs", "last index µs"}, table);
    table.clear();
    for (size_t i = 0; i < sizes.size(); ++i) {
        const Row &row = rows[i];
        table.push_back({Count(sizes[i]), Figure(row.adds), Figure(row.adds * 1000 / sizes[i]),
                         i ? Exponent(row.adds, rows[i - 1].adds, sizes[i], sizes[i - 1]) : "-",
                         Figure(row.adds_unredrawn), Figure(row.adds_unredrawn * 1000 / sizes[i])});
    }
    PrintTable({"paths", "LB_ADDSTRING", "per path µs", "growth", "with WM_SETREDRAW FALSE", "per path µs"}, table);
}

// --- Clipboard export ------------------------------------------------------

// The list box messages the export sends, without its memory and clipboard
// calls: the count, a length pass, and a length and text per item.
size_t ListReadRoad(HWND list)
{
    char line[MAX_PATH];
    size_t total = 1;
    int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; ++i) total += SendMessageA(list, LB_GETTEXTLEN, i, 0) + 2;
    for (int i = 0; i < count; ++i)
        if (SendMessageA(list, LB_GETTEXTLEN, i, 0) > 0) SendMessageA(list, LB_GETTEXT, i, (LPARAM)line);
    return total;
}

// The clipboard's CF_TEXT is the list's items, each followed by CR LF.
bool ClipboardHolds(const std::vector<std::string> &items)
{
    if (!OpenClipboard(NULL)) return false;
    HANDLE data = GetClipboardData(CF_TEXT);
    const char *text = data ? static_cast<const char *>(GlobalLock(data)) : nullptr;
    bool holds = false;
    if (text) {
        std::string expected;
        for (const auto &item : items) expected += item + "\r\n";
        holds = expected == text;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return holds;
}

void BenchClipboard(const Options &options, HWND shown)
{
    const std::vector<size_t> sizes = options.quick ? std::vector<size_t>{100, 1000} : std::vector<size_t>{1000, 10000, 30000};
    struct Row {
        double export_ms = 0, floor = 0;
    };
    std::vector<Row> rows;
    HWND list = FileList(shown);
    for (size_t size : sizes) {
        const std::vector<std::string> items = AnsiPaths(MakePaths(size));
        FillList(list, items);
        PumpMessages();
        std::vector<double> exports, floors;
        for (int rep = 0; rep < options.reps; ++rep) {
            exports.push_back(TimeMs([&] { fnListToClipboard(shown); }));
            floors.push_back(TimeMs([&] { ListReadRoad(list); }));
            PumpMessages();
        }
        if (!ClipboardHolds(items)) Fail("the clipboard does not hold the list");
        rows.push_back({Median(exports), Median(floors)});
    }
    ClearList(shown);

    PrintTitle("Clipboard export",
               "fnListToClipboard on the visible dialog's list; floor: the list box messages it sends (LB_GETCOUNT, "
               "LB_GETTEXTLEN per item, then LB_GETTEXTLEN + LB_GETTEXT per item) without global memory or "
               "clipboard calls. Times in ms, median of " + std::to_string(options.reps) +
                   "; growth: the exponent k in time ~ items^k from the size above.");
    std::vector<std::vector<std::string>> table;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const Row &row = rows[i];
        table.push_back({Count(sizes[i]), Figure(row.export_ms), Figure(row.floor), Ratio(row.export_ms / row.floor),
                         Figure(row.export_ms * 1000 / sizes[i]), Figure(row.floor * 1000 / sizes[i]),
                         i ? Exponent(row.export_ms, rows[i - 1].export_ms, sizes[i], sizes[i - 1]) : "-"});
    }
    PrintTable({"items", "export", "floor", "export/floor", "export µs/item", "floor µs/item", "export growth"}, table);
}

// --- Relay -----------------------------------------------------------------

std::string TempPath(const char *prefix)
{
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, prefix, 0, path);
    DeleteFileA(path);
    return path;
}

// Lines of the stand-in's log whose event is `kind`.
size_t LoggedEvents(const std::string &log, const std::string &kind)
{
    std::ifstream in(log);
    std::string line, ms, event;
    size_t count = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (fields >> ms >> event && event == kind) ++count;
    }
    return count;
}

void BenchRelay(const Options &options, HWND shown)
{
    const size_t items = options.quick ? 2 : 5;
    const int reps = std::min(options.reps, 3);
    const char *standin = std::getenv("PATHDROP_STANDIN");
    if (!standin) {
        Fail("PATHDROP_STANDIN names the stand-in chat client");
        return;
    }
    const std::string log = TempPath("log"), ready = TempPath("rdy");
    std::string command = std::string("\"") + standin + "\" --log \"" + log + "\" --ready \"" + ready + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, command.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        Fail("cannot start " + command);
        return;
    }
    for (int tries = 0; tries < 1200 && GetFileAttributesA(ready.c_str()) == INVALID_FILE_ATTRIBUTES; ++tries) Sleep(50);
    unsigned long window = 0;
    std::ifstream(ready) >> std::hex >> window;

    std::vector<double> relays;
    if (!window) {
        Fail("the stand-in chat client did not come up");
    } else {
        const std::vector<std::string> paths = AnsiPaths(MakePaths(items));
        FillList(FileList(shown), paths);
        PumpMessages();
        for (int rep = 0; rep < reps; ++rep) relays.push_back(TimeMs([&] { fnListToChat(shown); }));
        // The last Enter is handled by the client after the relay returns.
        const size_t expected = items * reps;
        for (int tries = 0; tries < 100 && LoggedEvents(log, "sent") < expected; ++tries) Sleep(50);
        if (LoggedEvents(log, "sent") != expected) Fail("the stand-in did not send every relayed path");
        PostMessageA((HWND)window, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        Fail("the stand-in chat client did not close");
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    DeleteFileA(log.c_str());
    DeleteFileA(ready.c_str());
    ClearList(shown);

    PrintTitle("Relay",
               "fnListToChat into the stand-in chat client (its own process), " + std::to_string(items) +
                   " items; its fixed pauses are 200 + 100 + 200 ms per item. Times in ms, median of " +
                   std::to_string(reps) + ".");
    double relay = Median(relays);
    double per_item = relay / items;
    bool measured = !relays.empty();
    PrintTable({"items", "relay", "per item", "pauses per item", "overhead per item"},
               {{Count(items), measured ? Figure(relay) : "-", measured ? Figure(per_item) : "-", "500",
                 measured ? Figure(per_item - 500) : "-"}});
}

// --- Start-up --------------------------------------------------------------

struct VisibleDialogSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM search_address)
{
    auto *search = reinterpret_cast<VisibleDialogSearch *>(search_address);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process || !IsWindowVisible(window)) return TRUE;
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, "#32770") != 0) return TRUE;
    search->found = window;
    return FALSE;
}

// From CreateProcess until the program's dialog is visible, in ms; the
// program is then closed with IDCANCEL, and must end with it. -1 on failure.
double TimeStartup(const std::string &exe)
{
    std::string command = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    double start = NowMs();
    if (!CreateProcessA(NULL, command.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        Fail("cannot start " + exe);
        return -1;
    }
    VisibleDialogSearch search = {process.dwProcessId, NULL};
    double elapsed = -1;
    while (NowMs() - start < 60000) {
        EnumWindows(FindVisibleDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            elapsed = NowMs() - start;
            break;
        }
        if (WaitForSingleObject(process.hProcess, 2) == WAIT_OBJECT_0) break;
    }
    if (search.found) PostMessageA(search.found, WM_COMMAND, IDCANCEL, 0);
    DWORD exit_code = 0;
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        Fail(exe + " did not end after IDCANCEL");
        elapsed = -1;
    } else if (!GetExitCodeProcess(process.hProcess, &exit_code) || exit_code != IDCANCEL) {
        Fail(exe + " ended with " + std::to_string(exit_code) + ", not IDCANCEL");
        elapsed = -1;
    }
    if (!search.found) Fail(exe + " showed no dialog");
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return elapsed;
}

std::string FileBytes(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return "-";
    return Count(data.nFileSizeLow);
}

void BenchStartup(const Options &options)
{
    const char *pathdrop = std::getenv("PATHDROP_EXE");
    const char *minimal = std::getenv("PATHDROP_MINIMAL_DIALOG");
    if (!pathdrop || !minimal) {
        Fail("PATHDROP_EXE and PATHDROP_MINIMAL_DIALOG name the programs to start");
        return;
    }
    std::vector<double> pathdrop_ms, minimal_ms;
    for (int rep = 0; rep < options.reps; ++rep) {
        // A failed start has been reported and counts in no median.
        double ms = TimeStartup(pathdrop);
        if (ms >= 0) pathdrop_ms.push_back(ms);
        ms = TimeStartup(minimal);
        if (ms >= 0) minimal_ms.push_back(ms);
    }
    bool measured = !pathdrop_ms.empty() && !minimal_ms.empty();
    double pathdrop_median = Median(pathdrop_ms), minimal_median = Median(minimal_ms);

    PrintTitle("Start-up",
               "From CreateProcess until the program's top-level #32770 window is visible (polled with "
               "EnumWindows), then closed with WM_COMMAND IDCANCEL. The minimal program: WinMain calling "
               "DialogBoxParamA on a one-button template, same toolchain and flags. Times in ms, median of " +
                   std::to_string(options.reps) + ".");
    PrintTable({"program", "start to visible", "ratio", "bytes"},
               {{"pathdrop.exe", measured ? Figure(pathdrop_median) : "-", measured ? Ratio(pathdrop_median / minimal_median) : "-",
                 FileBytes(pathdrop)},
                {"minimal_dialog.exe", measured ? Figure(minimal_median) : "-", Ratio(1), FileBytes(minimal)}});
}

bool ParseOptions(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--quick") {
            options->quick = true;
            options->reps = 1;
        } else if (option == "--reps" && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            options->reps = std::atoi(argv[++i]);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr, "usage: pathdrop_bench [--quick] [--reps N]\n");
        return 2;
    }
    // Lines end in LF alone, as the tables are meant to be pasted.
    _setmode(_fileno(stdout), _O_BINARY);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_tick_ms = 1000.0 / (double)frequency.QuadPart;

    HWND shown = CreateShownDialog();
    HWND hidden = CreateHiddenDialog();
    if (!shown || !hidden || !IsWindowVisible(shown) || IsWindowVisible(FileList(hidden))) {
        Fail("cannot create the visible and the hidden dialog from the template");
        return 1;
    }
    double start = NowMs();
    std::printf("## pathdrop benchmark%s\n\n", options.quick ? " (quick)" : "");
    BenchDrop(options, shown, hidden);
    BenchClipboard(options, shown);
    BenchRelay(options, shown);
    DestroyWindow(hidden);
    DestroyWindow(shown);
    BenchStartup(options);
    std::printf("Benchmark ran %s s.\n", Figure((NowMs() - start) / 1000).c_str());
    return g_failed ? 1 : 0;
}
