#include "PipeConnect.h"

#include <windows.h>

#include <thread>

TUniqueHandle ConnectToPipe(const std::wstring& PipeName, std::chrono::milliseconds Timeout)
{
    auto deadline = std::chrono::steady_clock::now() + Timeout;
    for (;;)
    {
        // The rights the pipe grants the service side; GENERIC_WRITE would also ask
        // for FILE_CREATE_PIPE_INSTANCE, which it does not grant.
        TUniqueHandle pipe(CreateFileW(PipeName.c_str(), FILE_READ_DATA | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
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
