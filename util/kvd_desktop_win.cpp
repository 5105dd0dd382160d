// The task bar on Windows: the shell's tray window, when it sits along the
// bottom edge of the screen.

#include "util/kvd_desktop.h"

#include <windows.h>

int TaskbarHeight()
{
    const HWND tray = ::FindWindowW(L"Shell_TrayWnd", nullptr);
    RECT rect;
    if (!tray || !::IsWindowVisible(tray) || !::GetWindowRect(tray, &rect))
        return 0;
    // A task bar on the left, right or top edge takes nothing off the bottom.
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    if (rect.top <= 0 || rect.bottom < screenHeight)
        return 0;
    const int height = static_cast<int>(rect.bottom - rect.top);
    return height > 0 ? height : 0;
}
