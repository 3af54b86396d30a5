// The copy button and the automatic copy after a drop, on the real dialog
// with the real clipboard. Allocation, locking and the hand-over to the
// clipboard are observed, and failures injected, through import hooks that
// forward to the real calls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "drop_fixture.h"
#include "import_hook.h"
#include "quirky_list.h"
#include "resource.h"

namespace {

// What the hooks saw and what they are told to do, for one export.
struct HookState {
    bool armed = false;
    bool fail_alloc = false, fail_lock = false, fail_set = false;
    HGLOBAL block = NULL;
    bool guard_checked = false, guard_intact = false;
    UINT flags = 0;
    SIZE_T size = 0;
    std::vector<HGLOBAL> freed;
} g_hooks;

// Bytes past the requested size, filled with a pattern the export must not touch.
const SIZE_T kGuard = 16;
const BYTE kGuardByte = 0xCD;

decltype(&GlobalAlloc) g_real_alloc;
decltype(&GlobalLock) g_real_lock;
decltype(&GlobalFree) g_real_free;
decltype(&SetClipboardData) g_real_set;

HGLOBAL WINAPI HookedGlobalAlloc(UINT flags, SIZE_T size)
{
    if (!g_hooks.armed) return g_real_alloc(flags, size);
    if (g_hooks.fail_alloc) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    HGLOBAL block = g_real_alloc(flags, size + kGuard);
    if (block) {
        auto *bytes = static_cast<BYTE *>(g_real_lock(block));
        std::memset(bytes + size, kGuardByte, kGuard);
        GlobalUnlock(block);
    }
    g_hooks.block = block;
    g_hooks.flags = flags;
    g_hooks.size = size;
    return block;
}

LPVOID WINAPI HookedGlobalLock(HGLOBAL block)
{
    if (g_hooks.armed && g_hooks.fail_lock) {
        SetLastError(ERROR_INVALID_HANDLE);
        return NULL;
    }
    return g_real_lock(block);
}

HGLOBAL WINAPI HookedGlobalFree(HGLOBAL block)
{
    if (g_hooks.armed) g_hooks.freed.push_back(block);
    return g_real_free(block);
}

// The export's writes are over when it hands the block on: the guard is
// checked then, before the clipboard takes the block over.
void CheckGuard(HANDLE data)
{
    if (data != g_hooks.block) return;
    auto *bytes = static_cast<const BYTE *>(g_real_lock(g_hooks.block));
    g_hooks.guard_checked = bytes != nullptr;
    g_hooks.guard_intact = bytes != nullptr;
    for (SIZE_T i = 0; bytes && i < kGuard; ++i) g_hooks.guard_intact &= bytes[g_hooks.size + i] == kGuardByte;
    GlobalUnlock(g_hooks.block);
}

HANDLE WINAPI HookedSetClipboardData(UINT format, HANDLE data)
{
    if (g_hooks.armed) CheckGuard(data);
    if (g_hooks.armed && g_hooks.fail_set) {
        SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
        return NULL;
    }
    return g_real_set(format, data);
}

template <typename F> F Hook(const char *dll, const char *name, F hook)
{
    auto real = reinterpret_cast<F>(HookImport(dll, name, reinterpret_cast<void *>(hook)));
    if (!real) ADD_FAILURE() << name << " is not imported";
    return real;
}

void InstallHooks()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    g_real_alloc = Hook("kernel32.dll", "GlobalAlloc", &HookedGlobalAlloc);
    g_real_lock = Hook("kernel32.dll", "GlobalLock", &HookedGlobalLock);
    g_real_free = Hook("kernel32.dll", "GlobalFree", &HookedGlobalFree);
    g_real_set = Hook("user32.dll", "SetClipboardData", &HookedSetClipboardData);
}

// Clipboard access from the test's side.
void PutClipboardText(const std::string &text)
{
    ASSERT_TRUE(OpenClipboard(NULL));
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    std::memcpy(GlobalLock(block), text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    SetClipboardData(CF_TEXT, block);
    CloseClipboard();
}

// The CF_TEXT on the clipboard up to its NUL, or "<none>".
std::string ClipboardText()
{
    std::string text = "<none>";
    if (!OpenClipboard(NULL)) return "<busy>";
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (auto *bytes = static_cast<const char *>(GlobalLock(data))) {
            text.assign(bytes, strnlen(bytes, GlobalSize(data)));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

std::string Lines(const std::vector<std::string> &items)
{
    std::string text;
    for (const auto &item : items) text += item + "\r\n";
    return text;
}

const char kPrevious[] = "the user's earlier clipboard text";

class ClipboardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(GetACP(), 932u);
        InstallHooks();
        g_hooks = HookState{};
        dialog = CreateMainDialog();
        ASSERT_NE(dialog, nullptr);
        PutClipboardText(kPrevious);
    }
    void TearDown() override
    {
        g_hooks = HookState{};
        if (dialog) DestroyWindow(dialog);
    }
    void Drop(const std::vector<std::wstring> &names)
    {
        HDROP drop = MakeWideDrop(names);
        g_hooks.armed = true;
        SendMessageA(dialog, WM_DROPFILES, (WPARAM)drop, 0);
        g_hooks.armed = false;
    }
    void ClickCopy()
    {
        g_hooks.armed = true;
        SendMessageA(dialog, WM_COMMAND, IDC_COPY, 0);
        g_hooks.armed = false;
    }
    // The guard bytes past the requested size were as the hook left them
    // when the block was handed to the clipboard.
    void ExpectGuardIntact()
    {
        EXPECT_TRUE(g_hooks.guard_checked) << "the block never reached SetClipboardData";
        EXPECT_TRUE(g_hooks.guard_intact) << "written past the block";
    }

    HWND dialog = nullptr;
};

struct ContentCase {
    const char *what;
    std::vector<std::wstring> names;
    std::vector<std::string> lines;
};

TEST_F(ClipboardTest, CopyPutsEveryItemOnALineOfItsOwnInABlockOfExactlyItsSize)
{
    const std::wstring p258 = L"C:\\" + std::wstring(255, L'p');
    const std::wstring p259 = L"C:\\" + std::wstring(256, L'q');
    const std::wstring japanese = L"C:\\日本語 フォルダ\\資料 一覧.txt";
    const ContentCase cases[] = {
        {"two paths", {L"C:\\a.txt", L"D:\\dir\\b c.doc"}, {"C:\\a.txt", "D:\\dir\\b c.doc"}},
        {"spaces and double-byte names, unquoted", {japanese, L"C:\\a b\\c d"}, {ToAnsi(japanese), "C:\\a b\\c d"}},
        {"258 and 259 bytes, whole", {p258, p259}, {ToAnsi(p258), ToAnsi(p259)}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        PutClipboardText(kPrevious);
        Drop(c.names);
        ClickCopy();
        EXPECT_EQ(ClipboardText(), Lines(c.lines));
        EXPECT_EQ(g_hooks.size, Lines(c.lines).size() + 1);
        EXPECT_EQ(g_hooks.flags, (UINT)(GMEM_MOVEABLE | GMEM_ZEROINIT));
        ExpectGuardIntact();
        EXPECT_TRUE(g_hooks.freed.empty()) << "the block now belongs to the clipboard";
    }
}

TEST_F(ClipboardTest, TheTwoPathExampleIs27Bytes)
{
    Drop({L"C:\\a.txt", L"D:\\dir\\b c.doc"});
    ClickCopy();
    EXPECT_EQ(ClipboardText(), "C:\\a.txt\r\nD:\\dir\\b c.doc\r\n");
    EXPECT_EQ(g_hooks.size, 27u);
}

TEST_F(ClipboardTest, EmptyListReplacesTheClipboardWithEmptyText)
{
    ClickCopy();
    EXPECT_EQ(ClipboardText(), "");
    EXPECT_EQ(g_hooks.size, 1u);
    ExpectGuardIntact();
}

TEST_F(ClipboardTest, AutoCopyAfterADropHoldsExactlyTheNewList)
{
    CheckDlgButton(dialog, IDC_AUTOCLIPBOARD, BST_CHECKED);
    Drop({L"C:\\old1", L"C:\\old2"});
    EXPECT_EQ(ClipboardText(), Lines({"C:\\old1", "C:\\old2"}));
    Drop({L"C:\\new"});
    EXPECT_EQ(ClipboardText(), Lines({"C:\\new"}));
    ExpectGuardIntact();
}

TEST_F(ClipboardTest, DropWithTheBoxUncheckedLeavesTheClipboardAlone)
{
    Drop({L"C:\\a", L"C:\\b"});
    EXPECT_EQ(ClipboardText(), kPrevious);
    EXPECT_EQ(g_hooks.block, nullptr) << "nothing was allocated";
}

// The list box is a control any process can fill or subclass: items that
// report odd lengths must never make the export write out of bounds.
class QuirkyListTest : public ClipboardTest {
protected:
    void SetUp() override
    {
        ClipboardTest::SetUp();
        MakeListQuirky(dialog);
    }
};

TEST_F(QuirkyListTest, AnErrorCountCountsAsAnEmptyList)
{
    Drop({L"C:\\a"});
    g_quirks.count_error = true;
    ClickCopy();
    EXPECT_EQ(ClipboardText(), "");
    EXPECT_EQ(g_hooks.size, 1u);
}

TEST_F(QuirkyListTest, AnItemTooLongForTheLineBufferIsNeverFetched)
{
    Drop({L"C:\\a", L"C:\\b", L"C:\\c"});
    g_quirks.too_long_index = 1;
    ClickCopy();
    EXPECT_FALSE(g_quirks.text_fetched_for_too_long);
    EXPECT_EQ(ClipboardText(), Lines({"C:\\a", "", "C:\\c"}));
    ExpectGuardIntact();
}

TEST_F(QuirkyListTest, TextLongerThanItsReportedLengthStaysInsideTheBlock)
{
    Drop({L"C:\\a-long-first-item", L"C:\\second"});
    g_quirks.understated_index = 0;
    ClickCopy();
    ExpectGuardIntact();
    // Only whole lines that fit are written; the text still ends in its NUL.
    std::string text = ClipboardText();
    EXPECT_LT(text.size(), g_hooks.size);
}

// Failures leave the user's clipboard as it was and leak nothing.
TEST_F(ClipboardTest, AllocationOrLockFailureLeavesTheClipboardAsItWas)
{
    Drop({L"C:\\a"});
    g_hooks.fail_alloc = true;
    ClickCopy();
    EXPECT_EQ(ClipboardText(), kPrevious) << "allocation failed";

    g_hooks = HookState{};
    g_hooks.fail_lock = true;
    ClickCopy();
    EXPECT_EQ(ClipboardText(), kPrevious) << "lock failed";
    ASSERT_NE(g_hooks.block, nullptr);
    EXPECT_EQ(g_hooks.freed, std::vector<HGLOBAL>{g_hooks.block}) << "the unlockable block is freed";
}

TEST_F(ClipboardTest, BlockRefusedByTheClipboardIsFreed)
{
    Drop({L"C:\\a"});
    g_hooks.fail_set = true;
    ClickCopy();
    ASSERT_NE(g_hooks.block, nullptr);
    EXPECT_EQ(g_hooks.freed, std::vector<HGLOBAL>{g_hooks.block});
}

TEST_F(ClipboardTest, ClipboardHeldByAnotherProcessIsLeftAlone)
{
    const char *holder = std::getenv("PATHDROP_CLIPBOARD_HOLDER");
    ASSERT_NE(holder, nullptr) << "PATHDROP_CLIPBOARD_HOLDER names the helper program";
    HANDLE opened = CreateEventA(NULL, TRUE, FALSE, "pathdrop-test-clipboard-opened");
    HANDLE release = CreateEventA(NULL, TRUE, FALSE, "pathdrop-test-clipboard-release");
    std::string command = std::string("\"") + holder + "\" pathdrop-test-clipboard-opened pathdrop-test-clipboard-release";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(NULL, command.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process));
    ASSERT_EQ(WaitForSingleObject(opened, 30000), WAIT_OBJECT_0) << "the holder did not open the clipboard";

    Drop({L"C:\\a"});
    ClickCopy();
    EXPECT_EQ(g_hooks.block, nullptr) << "nothing is allocated while the clipboard is busy";

    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(opened);
    CloseHandle(release);
    EXPECT_EQ(ClipboardText(), kPrevious);
}

}  // namespace
