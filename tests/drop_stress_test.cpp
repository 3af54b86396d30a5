// Drops the shell could hand over but a hand-written case would not think
// of: random names of any length and script, and a very large drop, each
// through drop intake and the automatic copy, on the real dialog with the
// real clipboard.
//
// The random drops are reproducible: the seed is printed at the start and
// with every failure, and PATHDROP_SEED=<n> replays it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "clipboard_hooks.h"
#include "drop_fixture.h"
#include "resource.h"

namespace {

using Items = std::vector<std::string>;

// The longest path a list item holds: the 260-byte buffer less its NUL.
const size_t kLongest = MAX_PATH - 1;

// A lead byte of a double-byte character in code page 932.
bool IsCp932LeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// What a listed path must be, given what DragQueryFileA gives for it: the
// same bytes, less a lead byte left alone at the end by the cut.
std::string Mended(std::string path)
{
    size_t i = 0;
    while (i < path.size()) i += IsCp932LeadByte((unsigned char)path[i]) ? 2 : 1;
    if (i > path.size()) path.pop_back();
    return path;
}

// The longest start of `ansi` that fits a list item and ends between characters.
std::string CutAtCharacter(const std::string &ansi)
{
    size_t end = 0;
    while (end < ansi.size()) {
        size_t next = end + (IsCp932LeadByte((unsigned char)ansi[end]) ? 2 : 1);
        if (next > kLongest) break;
        end = next;
    }
    return ansi.substr(0, end);
}

// What DragQueryFileA gives for each index of a drop, read from a twin of it
// into a buffer of the size the dialog uses. Releases the twin.
Items QueriedPaths(HDROP twin)
{
    Items paths;
    UINT count = DragQueryFileA(twin, 0xFFFFFFFF, NULL, 0);
    for (UINT i = 0; i < count; ++i) {
        char path[MAX_PATH];
        path[0] = '\0';
        DragQueryFileA(twin, i, path, MAX_PATH);
        paths.push_back(std::string(path, strnlen(path, MAX_PATH)));
    }
    DragFinish(twin);
    return paths;
}

class DropStressTest : public HookedDialogTest {
protected:
    void SetUp() override
    {
        HookedDialogTest::SetUp();
        if (HasFatalFailure()) return;
        CheckDlgButton(dialog, IDC_AUTOCLIPBOARD, BST_CHECKED);
    }
    // Drops `drop`, then checks the list against what DragQueryFileA gives
    // for each of its indexes, and the automatic copy against the list.
    void DropAndCheck(HDROP drop, const Items &queried)
    {
        Items expected;
        for (const auto &path : queried) expected.push_back(Mended(path));

        g_hooks = HookState{};
        SendArmed(WM_DROPFILES, (WPARAM)drop);

        Items listed = ListItems(dialog);
        ASSERT_EQ(listed.size(), expected.size());
        for (size_t i = 0; i < listed.size(); ++i) ASSERT_EQ(listed[i], expected[i]) << "item " << i;
        const std::string text = Lines(expected);
        EXPECT_EQ(g_hooks.size, text.size() + 1) << "the block is the text and one NUL";
        EXPECT_TRUE(g_hooks.handed_over == text + '\0') << "the block handed to the clipboard";
        ExpectGuardIntact();
        EXPECT_TRUE(ClipboardText() == text) << "the clipboard's text";
    }
};

// Characters by kind. Among the Japanese ones are characters whose trail
// byte is '\\' (表 ソ 能 予 十 申) or a lead-byte value (亜), and half-width
// kana, which are single bytes.
const std::wstring kAscii = L"abcXYZ0189._-";
const std::wstring kPunctuation = L" !#$%&'()+,;=@[]^`{}~\\:";
const std::wstring kJapanese = L"あいうアイウ亜表ソ能予十申日本語ｱｲｳﾞﾟ｡ー";
// Not in code page 932: the conversion replaces them.
const std::wstring kNotInCp932 = L"éāÅ€가\u0E01\U0001F600";

wchar_t PickFrom(const std::wstring &set, std::mt19937 &random)
{
    return set[std::uniform_int_distribution<size_t>(0, set.size() - 1)(random)];
}

std::wstring RandomName(std::mt19937 &random)
{
    std::uniform_int_distribution<int> percent(0, 99);
    std::wstring name;
    if (percent(random) < 25) {
        // A run of double-byte characters after an odd or even number of
        // single bytes, so that the 259-byte cut falls inside a character or
        // between two.
        name = L"C:\\";
        name.append(std::uniform_int_distribution<size_t>(0, 6)(random), L'a');
        size_t run = std::uniform_int_distribution<size_t>(125, 300)(random);
        while (name.size() < run) name += PickFrom(L"亜表ソ能日本", random);
        return name;
    }
    size_t length = std::uniform_int_distribution<size_t>(1, 600)(random);
    while (name.size() < length) {
        int kind = percent(random);
        if (kind < 40) name += PickFrom(kAscii, random);
        else if (kind < 60) name += PickFrom(kPunctuation, random);
        else if (kind < 92) name += PickFrom(kJapanese, random);
        else {
            // A surrogate pair goes in whole or not at all.
            size_t at = std::uniform_int_distribution<size_t>(0, kNotInCp932.size() - 1)(random);
            if (IS_HIGH_SURROGATE(kNotInCp932[at])) name += kNotInCp932.substr(at, 2);
            else if (!IS_LOW_SURROGATE(kNotInCp932[at])) name += kNotInCp932[at];
        }
    }
    return name;
}

unsigned SeedForThisRun()
{
    if (const char *given = std::getenv("PATHDROP_SEED")) return (unsigned)std::strtoul(given, nullptr, 10);
    return std::random_device{}();
}

TEST_F(DropStressTest, RandomDropsListWhatTheShellGivesAndCopyItExactly)
{
    const unsigned seed = SeedForThisRun();
    std::printf("seed %u (PATHDROP_SEED=%u replays this run)\n", seed, seed);
    RecordProperty("seed", std::to_string(seed));
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);

    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE("drop " + std::to_string(round));
        // Mostly small drops, now and then a few hundred names.
        size_t count = std::uniform_int_distribution<size_t>(0, round % 8 == 7 ? 300 : 20)(random);
        std::vector<std::wstring> names;
        for (size_t i = 0; i < count; ++i) names.push_back(RandomName(random));

        // Most drops carry wide names, as the shell's do; some programs drop ANSI names.
        std::vector<std::string> ansi;
        for (const auto &name : names) ansi.push_back(ToAnsi(name));
        const bool wide = round % 4 != 3;
        const Items queried = QueriedPaths(wide ? MakeWideDrop(names) : MakeAnsiDrop(ansi));
        DropAndCheck(wide ? MakeWideDrop(names) : MakeAnsiDrop(ansi), queried);
        // What the platform gives is the name in the ANSI code page, cut
        // between characters where it is too long.
        for (size_t i = 0; i < ansi.size() && i < queried.size(); ++i)
            EXPECT_EQ(Mended(queried[i]), CutAtCharacter(ansi[i])) << "name " << i;
        if (HasFailure()) return;
    }
}

TEST_F(DropStressTest, DropOfTwentyThousandPathsIsListedAndCopiedExactly)
{
    std::vector<std::wstring> names;
    for (int i = 0; i < 20000; ++i)
        names.push_back(L"C:\\写真\\" + std::to_wstring(i / 100) + L"\\" + std::to_wstring(i) + L".jpg");
    DropAndCheck(MakeWideDrop(names), QueriedPaths(MakeWideDrop(names)));
}

}  // namespace
