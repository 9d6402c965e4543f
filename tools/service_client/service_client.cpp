// The service side's request, from a script: sends one request envelope to a
// bridge's pipe and prints the answer's JSON text.
//
//   service_client.exe <bridge pid> <COMMAND> [name=value ...] [--timeout=<ms>]
//
// Exit codes: 0 the answer was printed on stdout; 1 wrong arguments; 2 the pipe could
// not be opened in time; 3 the bridge closed the connection without an answer;
// 4 no answer in time; 5 the exchange failed otherwise. Every exit but 0 explains
// itself in one line on stderr.
#include "CommandLine.h"
#include "PipeConnect.h"

#include "base/TextConversion.h"
#include "base/WinHandle.h"
#include "messages/PipeFrame.h"
#include "messages/UPipeMessage.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

enum TExitCode
{
    ecAnswered = 0,
    ecUsage = 1,
    ecNoPipe = 2,
    ecNoAnswer = 3,
    ecTimedOut = 4,
    ecFailed = 5
};

constexpr DWORD DefaultTimeoutMs = 10000;

struct TArguments
{
    std::wstring PipeName;
    std::wstring Command;
    std::vector<std::wstring> Keys;
    std::vector<std::wstring> Values;
    DWORD TimeoutMs = DefaultTimeoutMs;
};

int Fail(int AExitCode, const std::wstring& AText)
{
    std::fprintf(stderr, "service_client: %s\n", WideToUtf8(AText).c_str());
    return AExitCode;
}

bool IsDecimal(const std::wstring& AText)
{
    return !AText.empty() && AText.size() <= 9 && AText.find_first_not_of(L"0123456789") == std::wstring::npos;
}

bool ParseArguments(const std::vector<std::wstring>& AArgs, TArguments& AResult)
{
    std::vector<std::wstring> positional;
    for (const std::wstring& arg : AArgs)
    {
        const std::wstring timeoutOption = L"--timeout=";
        if (arg.rfind(timeoutOption, 0) == 0)
        {
            std::wstring value = arg.substr(timeoutOption.size());
            if (!IsDecimal(value))
                return false;
            AResult.TimeoutMs = static_cast<DWORD>(std::stoul(value));
        }
        else
            positional.push_back(arg);
    }
    if (positional.size() < 2 || !IsDecimal(positional[0]) || positional[1].empty())
        return false;
    AResult.PipeName = L"\\\\.\\pipe\\uxsvc_" + positional[0];
    AResult.Command = positional[1];
    for (std::size_t i = 2; i < positional.size(); ++i)
    {
        std::size_t separator = positional[i].find(L'=');
        if (separator == std::wstring::npos || separator == 0)
            return false;
        AResult.Keys.push_back(positional[i].substr(0, separator));
        AResult.Values.push_back(positional[i].substr(separator + 1));
    }
    return true;
}

DWORD MillisecondsUntil(ULONGLONG ADeadline)
{
    ULONGLONG now = GetTickCount64();
    return now >= ADeadline ? 0 : static_cast<DWORD>(ADeadline - now);
}

TUniqueHandle OpenPipe(const std::wstring& AName, ULONGLONG ADeadline)
{
    for (;;)
    {
        TUniqueHandle pipe = OpenAsServiceSide(AName, FILE_FLAG_OVERLAPPED);
        if (pipe || MillisecondsUntil(ADeadline) == 0)
            return pipe;
        // Busy: every instance is taken; not found: the bridge is starting or gone.
        if (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(AName.c_str(), MillisecondsUntil(ADeadline)))
            Sleep(50);
    }
}

enum class TIo
{
    Done,
    Closed,
    TimedOut,
    Failed
};

TIo Transfer(HANDLE APipe, bool AWrite, char* AData, DWORD ASize, ULONGLONG ADeadline)
{
    TUniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD done = 0;
    while (done < ASize)
    {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.Get();
        // The handle reads in byte mode, so the answer's pipe messages run together.
        BOOL started = AWrite ? WriteFile(APipe, AData + done, ASize - done, nullptr, &overlapped)
                              : ReadFile(APipe, AData + done, ASize - done, nullptr, &overlapped);
        if (!started && GetLastError() != ERROR_IO_PENDING)
            return GetLastError() == ERROR_BROKEN_PIPE ? TIo::Closed : TIo::Failed;
        bool timedOut = WaitForSingleObject(event.Get(), MillisecondsUntil(ADeadline)) != WAIT_OBJECT_0;
        if (timedOut)
            CancelIoEx(APipe, &overlapped);
        DWORD bytes = 0;
        if (!GetOverlappedResult(APipe, &overlapped, &bytes, TRUE))
        {
            DWORD error = GetLastError();
            if (timedOut)
                return TIo::TimedOut;
            return error == ERROR_BROKEN_PIPE ? TIo::Closed : TIo::Failed;
        }
        done += bytes;
    }
    return TIo::Done;
}

int Exchange(const TArguments& AArguments)
{
    ULONGLONG deadline = GetTickCount64() + AArguments.TimeoutMs;
    TUniqueHandle pipe = OpenPipe(AArguments.PipeName, deadline);
    if (!pipe)
        return Fail(ecNoPipe, L"cannot open " + AArguments.PipeName + L" (error " + std::to_wstring(GetLastError()) +
                                  L")");

    std::string request = PipeFrame::EncodeFrame(
        TTPPipeMessage::MakeMessage(AArguments.Command, AArguments.Keys, AArguments.Values));
    if (Transfer(pipe.Get(), true, request.data(), static_cast<DWORD>(request.size()), deadline) != TIo::Done)
        return Fail(ecFailed, L"the request could not be sent to " + AArguments.PipeName);

    unsigned char lengthBytes[PipeFrame::LengthSize];
    TIo io = Transfer(pipe.Get(), false, reinterpret_cast<char*>(lengthBytes), sizeof(lengthBytes), deadline);
    std::string payload;
    if (io == TIo::Done)
    {
        std::uint32_t length = PipeFrame::DecodeLength(lengthBytes);
        if (length > PipeFrame::MaxPayloadBytes)
            return Fail(ecFailed, L"an answer of " + std::to_wstring(length) + L" bytes is too long");
        payload.resize(length);
        io = Transfer(pipe.Get(), false, payload.data(), length, deadline);
    }
    switch (io)
    {
    case TIo::Done:
        std::printf("%s\n", WideToUtf8(PipeFrame::DecodeText(payload)).c_str());
        return ecAnswered;
    case TIo::Closed:
        return Fail(ecNoAnswer, L"no answer: the bridge closed the connection");
    case TIo::TimedOut:
        return Fail(ecTimedOut, L"no answer within " + std::to_wstring(AArguments.TimeoutMs) + L" ms");
    case TIo::Failed:
        break;
    }
    return Fail(ecFailed, L"reading the answer failed");
}

} // namespace

int main()
{
    TArguments arguments;
    if (!ParseArguments(CommandLineArguments(), arguments))
        return Fail(ecUsage, L"usage: service_client.exe <bridge pid> <COMMAND> [name=value ...] [--timeout=<ms>]");
    return Exchange(arguments);
}
