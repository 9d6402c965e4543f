#include "startup/uxlink.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Threads that are still blocked in pipe I/O end here with the process; no
    // destructor of a process-wide object runs while they might still use it.
    ExitProcess(static_cast<UINT>(RunBridge()));
}
