// Holds the clipboard open from another process, as a busy program would:
// opens it, signals the event named by argv[1], then keeps it open until the
// event named by argv[2] is signalled (at most 60 s).
#include <windows.h>

int main(int argc, char **argv)
{
    if (argc != 3) return 2;
    HANDLE opened = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
    if (!opened || !release || !OpenClipboard(NULL)) return 1;
    SetEvent(opened);
    WaitForSingleObject(release, 60000);
    CloseClipboard();
    return 0;
}
