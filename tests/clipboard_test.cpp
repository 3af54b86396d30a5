// The copy button and the automatic copy after a drop, on the real dialog
// with the real clipboard. Allocation, locking and the hand-over to the
// clipboard are observed, and failures injected, through import hooks that
// forward to the real calls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "clipboard_hooks.h"
#include "drop_fixture.h"
#include "quirky_list.h"
#include "resource.h"

namespace {

const char kPrevious[] = "the user's earlier clipboard text";

class ClipboardTest : public HookedDialogTest {
protected:
    void SetUp() override
    {
        HookedDialogTest::SetUp();
        if (HasFatalFailure()) return;
        PutClipboardText(kPrevious);
    }
    void Drop(const std::vector<std::wstring> &names) { SendArmed(WM_DROPFILES, (WPARAM)MakeWideDrop(names)); }
    void ClickCopy() { SendArmed(WM_COMMAND, IDC_COPY); }
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
