// Observes the clipboard export from inside a test process: the test
// executable's imports of GlobalAlloc, GlobalLock, GlobalFree and
// SetClipboardData go to hooks that forward to the real calls. While armed,
// they record the block the export asks for, put a guard pattern past its
// requested size, check that guard when the block is handed to the clipboard,
// and inject a failure when told to. HookedDialogTest is the fixture of the
// tests that use them.
#ifndef PATHDROP_TESTS_CLIPBOARD_HOOKS_H
#define PATHDROP_TESTS_CLIPBOARD_HOOKS_H

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// What the hooks saw and what they are told to do, for one export.
struct HookState {
    bool armed = false;
    bool fail_alloc = false, fail_lock = false, fail_set = false;
    HGLOBAL block = NULL;
    bool guard_checked = false, guard_intact = false;
    UINT flags = 0;
    SIZE_T size = 0;
    std::string handed_over;  // the requested bytes of the block, as handed to the clipboard
    std::vector<HGLOBAL> freed;
};
extern HookState g_hooks;

// Installs the hooks once per process; they stay idle until armed.
void InstallClipboardHooks();

// The real main dialog, from the program's template, with the hooks
// installed and their state cleared before and after each test.
class HookedDialogTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Sends the dialog a message with the hooks armed while it is handled.
    void SendArmed(UINT message, WPARAM wParam);

    HWND dialog = nullptr;
};

// The guard bytes past the requested size were as the hook left them when
// the block was handed to the clipboard.
void ExpectGuardIntact();

// Puts CF_TEXT on the clipboard from the test's side.
void PutClipboardText(const std::string &text);

// The CF_TEXT on the clipboard up to its NUL, "<none>" or "<busy>".
std::string ClipboardText();

// Items as the export writes them: each followed by CR LF.
std::string Lines(const std::vector<std::string> &items);

#endif
