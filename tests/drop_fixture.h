// Helpers for driving the real main dialog inside a test process: shell-style
// drops, the file list's contents, and modal runs of the program's entry point.
#ifndef PATHDROP_TESTS_DROP_FIXTURE_H
#define PATHDROP_TESTS_DROP_FIXTURE_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A drop handle as the shell makes it: a movable DROPFILES block with the
// names as wide (UTF-16) or ANSI strings. Whoever handles the drop frees it.
HDROP MakeWideDrop(const std::vector<std::wstring> &names);
HDROP MakeAnsiDrop(const std::vector<std::string> &names);

// Text in the ANSI code page (932 in the test environment).
std::string ToAnsi(const std::wstring &text);

// The items of the dialog's file list, read as ANSI bytes.
std::vector<std::string> ListItems(HWND dialog);

// Creates the main dialog modelessly from the program's own template.
HWND CreateMainDialog();

// Runs WinMain with this module, calls `inside` with the dialog once its
// modal loop runs, and returns WinMain's result. `inside` must end the dialog.
int RunMainDialog(const std::function<void(HWND)> &inside);

// Dispatches whatever is waiting in this thread's queue.
void PumpMessages();

#endif
