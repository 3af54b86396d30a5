#include "clipboard_hooks.h"

#include <cstring>

#include "drop_fixture.h"
#include "import_hook.h"

HookState g_hooks;

namespace {

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
    if (bytes) g_hooks.handed_over.assign(reinterpret_cast<const char *>(bytes), g_hooks.size);
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

}  // namespace

void InstallClipboardHooks()
{
    static bool installed = false;
    if (installed) return;
    installed = true;
    g_real_alloc = Hook("kernel32.dll", "GlobalAlloc", &HookedGlobalAlloc);
    g_real_lock = Hook("kernel32.dll", "GlobalLock", &HookedGlobalLock);
    g_real_free = Hook("kernel32.dll", "GlobalFree", &HookedGlobalFree);
    g_real_set = Hook("user32.dll", "SetClipboardData", &HookedSetClipboardData);
}

void HookedDialogTest::SetUp()
{
    ASSERT_EQ(GetACP(), 932u) << "tests expect the Japanese ANSI code page";
    InstallClipboardHooks();
    g_hooks = HookState{};
    dialog = CreateMainDialog();
    ASSERT_NE(dialog, nullptr);
}

void HookedDialogTest::TearDown()
{
    g_hooks = HookState{};
    if (dialog) DestroyWindow(dialog);
}

void HookedDialogTest::SendArmed(UINT message, WPARAM wParam)
{
    g_hooks.armed = true;
    SendMessageA(dialog, message, wParam, 0);
    g_hooks.armed = false;
}

void ExpectGuardIntact()
{
    EXPECT_TRUE(g_hooks.guard_checked) << "the block never reached SetClipboardData";
    EXPECT_TRUE(g_hooks.guard_intact) << "written past the block";
}

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

