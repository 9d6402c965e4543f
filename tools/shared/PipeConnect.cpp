#include "PipeConnect.h"

#include <windows.h>

#include <thread>

TUniqueHandle OpenAsServiceSide(const std::wstring& PipeName, DWORD Flags)
{
    // The ordinary way, as most service-side clients open a pipe.
    return TUniqueHandle(
        CreateFileW(PipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, Flags, nullptr));
}

TUniqueHandle ConnectToPipe(const std::wstring& PipeName, std::chrono::milliseconds Timeout)
{
    auto deadline = std::chrono::steady_clock::now() + Timeout;
    for (;;)
    {
        TUniqueHandle pipe = OpenAsServiceSide(PipeName);
        if (pipe)
            return pipe;
        DWORD error = GetLastError();
        if (std::chrono::steady_clock::now() >= deadline)
            return {};
        // Busy: every instance is taken, wait for one. Not found: the server is
        // between two instances (or not up yet), try again at once.
        if (error == ERROR_PIPE_BUSY)
            WaitNamedPipeW(PipeName.c_str(), 100);
        else
            std::this_thread::yield();
    }
}

bool WaitForPipe(const std::wstring& PipeName, std::chrono::milliseconds Timeout)
{
    auto deadline = std::chrono::steady_clock::now() + Timeout;
    do
    {
        if (WaitNamedPipeW(PipeName.c_str(), 50))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}
