#include "BarePrograms.h"

#include "BenchPipe.h"

#include "base/WinError.h"
#include "base/WinHandle.h"
#include "tray/WindowClass.h"

#include <windows.h>
#include <shellapi.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace bench
{

namespace
{

// Connections handed from the listener to the worker.
class THandOver
{
public:
    void Push(TUniqueHandle Pipe)
    {
        {
            std::lock_guard lock(FMutex);
            FPipes.push_back(std::move(Pipe));
        }
        FReady.notify_one();
    }

    // Empty once a stop is requested.
    TUniqueHandle Pop(std::stop_token Stop)
    {
        std::unique_lock lock(FMutex);
        if (!FReady.wait(lock, Stop, [this] { return !FPipes.empty(); }))
            return {};
        TUniqueHandle pipe = std::move(FPipes.front());
        FPipes.pop_front();
        return pipe;
    }

private:
    std::mutex FMutex;
    std::condition_variable_any FReady;
    std::deque<TUniqueHandle> FPipes;
};

void EchoOne(HANDLE pipe)
{
    if (std::optional<std::string> request = ReadFrame(pipe))
        WriteFrame(pipe, *request);
}

TUniqueHandle AcceptOne(const std::wstring& pipeName)
{
    TUniqueHandle pipe(CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                        PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                        ChunkSize, ChunkSize, 1000, nullptr));
    if (!pipe)
        ThrowLastError("CreateNamedPipeW");
    if (!ConnectNamedPipe(pipe.Get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
        return {};
    return pipe;
}

constexpr wchar_t BareTrayClass[] = L"UxBenchBareTray";

LRESULT CALLBACK BareTrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE)
    {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TUniqueWindow CreateHiddenWindow()
{
    RegisterWindowClass(BareTrayClass, BareTrayProc);
    TUniqueWindow window(CreateWindowExW(WS_EX_TOOLWINDOW, BareTrayClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                         GetModuleHandleW(nullptr), nullptr));
    if (!window)
        ThrowLastError("CreateWindowExW");
    return window;
}

// Removes the icon when the program leaves its loop.
class TBareIcon
{
public:
    explicit TBareIcon(HWND window)
    {
        FData.cbSize = sizeof(FData);
        FData.hWnd = window;
        FData.uID = 1;
        FData.uFlags = NIF_ICON | NIF_TIP;
        FData.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
        lstrcpynW(FData.szTip, L"bare", ARRAYSIZE(FData.szTip));
        // Without a shell tray (no Wine desktop) the icon is simply missing; the
        // program still idles like the bridge would.
        FAdded = Shell_NotifyIconW(NIM_ADD, &FData);
    }
    TBareIcon(const TBareIcon&) = delete;
    TBareIcon& operator=(const TBareIcon&) = delete;
    ~TBareIcon()
    {
        if (FAdded)
            Shell_NotifyIconW(NIM_DELETE, &FData);
    }

private:
    NOTIFYICONDATAW FData{};
    BOOL FAdded = FALSE;
};

} // namespace

void RunBareEcho(const std::wstring& PipeName)
{
    THandOver handOver;
    // The process is ended from outside; the worker stops only when the listener
    // fails and unwinds.
    std::jthread worker([&handOver](std::stop_token stop) {
        while (TUniqueHandle pipe = handOver.Pop(stop))
            EchoOne(pipe.Get());
    });
    for (;;)
        if (TUniqueHandle pipe = AcceptOne(PipeName))
            handOver.Push(std::move(pipe));
}

int RunBareTray()
{
    TUniqueWindow window = CreateHiddenWindow();
    TBareIcon icon(window.get());
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

} // namespace bench
