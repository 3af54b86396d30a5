// The send button and the automatic relay after a drop, on the real dialog,
// against the stand-in chat client running in its own process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "drop_fixture.h"
#include "import_hook.h"
#include "quirky_list.h"
#include "resource.h"

namespace {

struct Event {
    DWORD ms = 0;
    std::string kind;
    std::string text;  // settext, sent: the bytes
    DWORD wparam = 0, lparam = 0;
};

std::string FromHex(const std::string &hex)
{
    std::string bytes;
    if (hex == "-") return bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
    return bytes;
}

std::string TempPath(const char *prefix)
{
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, prefix, 0, path);
    DeleteFileA(path);
    return path;
}

// The stand-in chat client in its own process, with its event log.
class StandIn {
public:
    explicit StandIn(const std::string &options = "")
        : log_(TempPath("log")), ready_(TempPath("rdy"))
    {
        const char *exe = std::getenv("PATHDROP_STANDIN");
        if (!exe) {
            ADD_FAILURE() << "PATHDROP_STANDIN names the stand-in chat client";
            return;
        }
        std::string command = std::string("\"") + exe + "\" --log \"" + log_ + "\" --ready \"" + ready_ + "\" " + options;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        if (!CreateProcessA(NULL, command.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process_)) {
            ADD_FAILURE() << "cannot start " << command;
            return;
        }
        for (int tries = 0; tries < 600 && GetFileAttributesA(ready_.c_str()) == INVALID_FILE_ATTRIBUTES; ++tries)
            Sleep(50);
        std::ifstream ready(ready_);
        unsigned long window = 0;
        ready >> std::hex >> window;
        window_ = (HWND)window;
        if (!window_) ADD_FAILURE() << "the stand-in did not come up";
    }
    ~StandIn()
    {
        if (process_.hProcess) {
            PostMessageA(window_, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
        DeleteFileA(log_.c_str());
        DeleteFileA(ready_.c_str());
    }
    void Kill() { TerminateProcess(process_.hProcess, 1); }

    std::vector<Event> Events() const
    {
        std::vector<Event> events;
        std::ifstream in(log_);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            Event e;
            fields >> e.ms >> e.kind;
            if (e.kind == "settext" || e.kind == "sent") {
                std::string hex;
                fields >> hex;
                e.text = FromHex(hex);
            } else if (e.kind == "keydown" || e.kind == "keyup") {
                std::string w, l;
                fields >> w >> l;
                e.wparam = std::stoul(w, nullptr, 16);
                e.lparam = std::stoul(l, nullptr, 16);
            }
            events.push_back(e);
        }
        return events;
    }
    std::vector<std::string> Texts(const char *kind) const
    {
        std::vector<std::string> texts;
        for (const auto &e : Events())
            if (e.kind == kind) texts.push_back(e.text);
        return texts;
    }
    // Waits (a bounded time) until the client has sent `count` messages.
    std::vector<std::string> WaitSent(size_t count) const
    {
        for (int tries = 0; tries < 100 && Texts("sent").size() < count; ++tries) Sleep(50);
        return Texts("sent");
    }

private:
    std::string log_, ready_;
    PROCESS_INFORMATION process_ = {};
    HWND window_ = NULL;
};

class ChatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(GetACP(), 932u);
        ASSERT_EQ(FindWindowA("KobbleClientMainWindow", NULL), nullptr) << "a chat window is left over";
        dialog = CreateMainDialog();
        ASSERT_NE(dialog, nullptr);
    }
    void TearDown() override
    {
        if (dialog) DestroyWindow(dialog);
    }
    void Drop(const std::vector<std::wstring> &names)
    {
        SendMessageA(dialog, WM_DROPFILES, (WPARAM)MakeWideDrop(names), 0);
    }
    // Clicks the send button; returns how long the relay held the dialog.
    DWORD ClickSend()
    {
        DWORD start = GetTickCount();
        SendMessageA(dialog, WM_COMMAND, IDC_SEND, 0);
        return GetTickCount() - start;
    }
    HWND dialog = nullptr;
};

TEST_F(ChatTest, EachItemIsTypedThenEnteredWithTheFixedKeysAndPauses)
{
    StandIn chat;
    const std::vector<std::string> paths = {"C:\\a.txt", ToAnsi(L"C:\\日本語\\資料.txt"), "D:\\dir\\b c.doc"};
    Drop({L"C:\\a.txt", L"C:\\日本語\\資料.txt", L"D:\\dir\\b c.doc"});
    DWORD held = ClickSend();

    EXPECT_EQ(chat.WaitSent(3), paths) << "the client sent each path once, in list order";
    EXPECT_GE(held, 3 * 500u - 50);
    std::vector<Event> field;
    for (const auto &e : chat.Events())
        if (e.kind == "settext" || e.kind == "keydown" || e.kind == "keyup") field.push_back(e);
    ASSERT_EQ(field.size(), 9u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const Event &text = field[3 * i], &down = field[3 * i + 1], &up = field[3 * i + 2];
        EXPECT_EQ(text.kind, "settext");
        EXPECT_EQ(text.text, paths[i]) << "the same bytes as the list holds";
        EXPECT_EQ(down.kind, "keydown");
        EXPECT_EQ(down.wparam, (DWORD)VK_RETURN);
        EXPECT_EQ(down.lparam, 0x00001C01u);
        EXPECT_EQ(up.kind, "keyup");
        EXPECT_EQ(up.wparam, (DWORD)VK_RETURN);
        EXPECT_EQ(up.lparam, 0xC0001C01u);
        // The pauses are 200, 100 and 200 ms; wide margins for a loaded machine.
        EXPECT_GE(down.ms - text.ms, 180u);
        EXPECT_LE(down.ms - text.ms, 1500u);
        EXPECT_GE(up.ms - down.ms, 80u);
        EXPECT_LE(up.ms - down.ms, 1500u);
        if (i + 1 < 3) {
            EXPECT_GE(field[3 * i + 3].ms - up.ms, 180u);
            EXPECT_LE(field[3 * i + 3].ms - up.ms, 1500u);
        }
    }
}

TEST_F(ChatTest, WithoutAClientOrItsFieldNothingIsSentAndTheButtonReturnsAtOnce)
{
    Drop({L"C:\\a", L"C:\\b"});
    EXPECT_LT(ClickSend(), 400u) << "no chat client running";

    StandIn chat("--no-field");
    EXPECT_LT(ClickSend(), 400u) << "a client without control 4";
    EXPECT_TRUE(chat.Texts("settext").empty());
}

TEST_F(ChatTest, EmptyListSendsNothing)
{
    StandIn chat;
    EXPECT_LT(ClickSend(), 400u);
    EXPECT_TRUE(chat.Events().empty());
}

// Reads the clipboard at the moment the relay sends its first text.
decltype(&SendMessageTimeoutA) g_real_send_timeout;
std::string g_clipboard_at_first_text;
bool g_first_text_seen;

LRESULT WINAPI RecordingSendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                                            UINT timeout, PDWORD_PTR result)
{
    if (message == WM_SETTEXT && !g_first_text_seen) {
        g_first_text_seen = true;
        if (OpenClipboard(NULL)) {
            if (HANDLE data = GetClipboardData(CF_TEXT)) {
                g_clipboard_at_first_text = static_cast<const char *>(GlobalLock(data));
                GlobalUnlock(data);
            }
            CloseClipboard();
        }
    }
    return g_real_send_timeout(window, message, wParam, lParam, flags, timeout, result);
}

TEST_F(ChatTest, WithBothBoxesADropFillsTheClipboardBeforeTheFirstText)
{
    static bool hooked = false;
    if (!hooked) {
        g_real_send_timeout = reinterpret_cast<decltype(&SendMessageTimeoutA)>(HookImport(
            "user32.dll", "SendMessageTimeoutA", reinterpret_cast<void *>(&RecordingSendMessageTimeoutA)));
        hooked = true;
    }
    ASSERT_NE(g_real_send_timeout, nullptr);
    g_first_text_seen = false;
    StandIn chat;
    CheckDlgButton(dialog, IDC_AUTOCLIPBOARD, BST_CHECKED);
    CheckDlgButton(dialog, IDC_AUTOSEND, BST_CHECKED);
    Drop({L"C:\\new1", L"C:\\new2"});
    EXPECT_EQ(g_clipboard_at_first_text, "C:\\new1\r\nC:\\new2\r\n");
    EXPECT_EQ(chat.WaitSent(2), std::vector<std::string>({"C:\\new1", "C:\\new2"}));
}

TEST_F(ChatTest, ADropArrivingDuringARelayWaitsAndTheRelaySendsTheListItStartedWith)
{
    StandIn chat;
    Drop({L"C:\\first1", L"C:\\first2"});
    // Let the client's own start-up activation settle before looking.
    for (int i = 0; i < 5; ++i) {
        PumpMessages();
        Sleep(100);
    }
    HWND foreground = GetForegroundWindow();
    HWND focus = GetFocus();
    // Queued before the relay starts: handled only once it has returned.
    PostMessageA(dialog, WM_DROPFILES, (WPARAM)MakeWideDrop({L"C:\\second"}), 0);
    ClickSend();
    EXPECT_EQ(ListItems(dialog), std::vector<std::string>({"C:\\first1", "C:\\first2"}));
    EXPECT_EQ(chat.WaitSent(2), std::vector<std::string>({"C:\\first1", "C:\\first2"}));
    EXPECT_EQ(GetForegroundWindow(), foreground) << "the relay does not activate the client";
    EXPECT_EQ(GetFocus(), focus) << "nor move the keyboard focus";
    PumpMessages();
    EXPECT_EQ(ListItems(dialog), std::vector<std::string>({"C:\\second"}));
}

TEST_F(ChatTest, AHungClientIsGivenUpOnAndTheDialogAnswersAgain)
{
    StandIn chat("--hang-after 1");
    Drop({L"C:\\a", L"C:\\b", L"C:\\c", L"C:\\d"});
    DWORD held = ClickSend();
    // One item with its pauses, then at most the send timeout (about 5 s).
    EXPECT_LT(held, 12000u);
    DWORD_PTR result;
    EXPECT_TRUE(SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result));
    EXPECT_EQ(ListItems(dialog).size(), 4u);
    chat.Kill();
}

TEST_F(ChatTest, AClientWhoseWindowGoesAwayMidRelayEndsTheRelay)
{
    StandIn chat;
    Drop({L"C:\\a", L"C:\\b", L"C:\\c", L"C:\\d", L"C:\\e", L"C:\\f"});
    std::thread killer([&chat] {
        for (int tries = 0; tries < 200 && chat.Texts("settext").empty(); ++tries) Sleep(20);
        chat.Kill();
    });
    DWORD held = ClickSend();
    killer.join();
    EXPECT_LT(held, 6 * 500u) << "the relay ended early";
    EXPECT_TRUE(IsWindow(dialog));
}

TEST_F(ChatTest, AnErrorCountSendsNothingAndAnItemTooLongIsNeverFetched)
{
    StandIn chat;
    Drop({L"C:\\a", L"C:\\b", L"C:\\c"});
    MakeListQuirky(dialog);
    g_quirks.count_error = true;
    EXPECT_LT(ClickSend(), 400u);
    EXPECT_TRUE(chat.Texts("settext").empty()) << "LB_ERR counts as an empty list";

    g_quirks.count_error = false;
    g_quirks.too_long_index = 1;
    ClickSend();
    EXPECT_FALSE(g_quirks.text_fetched_for_too_long);
    EXPECT_EQ(chat.Texts("settext"), std::vector<std::string>({"C:\\a", "", "C:\\c"}));
}

}  // namespace
