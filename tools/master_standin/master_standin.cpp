// master_standin: stands in for the product's master process. It serves
// \\.\pipe\clientremotepipe<pid>, prints every envelope it receives as one line and
// answers each with an envelope of its own, or otherwise when told to.
#include "CommandLine.h"

#include "base/TextConversion.h"
#include "base/WinError.h"
#include "base/WinHandle.h"
#include "messages/PipeFrame.h"
#include "messages/UPipeMessage.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

constexpr const wchar_t* UsageText =
    L"usage: master_standin [options]\n"
    L"Serves \\\\.\\pipe\\clientremotepipe<pid>, prints each envelope it receives as one\n"
    L"line of JSON and answers {\"command\":\"Result\",\"parameters\":{\"Result\":\"OK\"}}.\n"
    L"  -pid=N        serve the pipe of pid N instead of this process's own id\n"
    L"                (the bridge sends only to a pipe served by that very process)\n"
    L"  -out=PATH     append the envelope lines to PATH instead of standard output\n"
    L"  -name=TEXT    answer with the command name TEXT instead of Result\n"
    L"  -value=TEXT   answer with the parameter Result = TEXT instead of OK\n"
    L"  -length=N     answer with only a length prefix announcing N bytes (0: an empty answer)\n"
    L"  -deep=N       answer with the parameter Result an array nested N levels deep\n"
    L"                (a hostile master: no envelope nests like that)\n"
    L"  -split=N      write the answer in pieces of N bytes, the length prefix included\n"
    L"  -noanswer     answer nothing and hold each connection until the client closes it\n"
    L"  -delay=MS     wait MS milliseconds before answering (a slow master)\n"
    L"  -requests=N   exit after N connections (default: serve until killed)\n"
    L"It serves one client at a time; the next one connects meanwhile and waits.\n"
    L"The first line on standard output names the pipe and this process's id.\n";

struct TOptions
{
    std::wstring Pid = std::to_wstring(GetCurrentProcessId());
    std::wstring OutPath;
    std::wstring AnswerName = L"Result";
    std::wstring AnswerValue = L"OK";
    std::optional<std::uint32_t> AnnouncedLength;
    std::size_t DeepLevels = 0;
    std::size_t SplitBytes = 0;
    bool NoAnswer = false;
    DWORD DelayMs = 0;
    unsigned long Requests = 0;
};

class EUsage : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

unsigned long NumberOf(const std::wstring& Text)
{
    if (Text.empty() || Text.find_first_not_of(L"0123456789") != std::wstring::npos)
        throw EUsage("not a number: " + WideToUtf8(Text));
    return std::stoul(Text);
}

TOptions ReadOptions()
{
    TOptions options;
    for (const std::wstring& arg : CommandLineArguments())
    {
        std::size_t equals = arg.find(L'=');
        std::wstring name = arg.substr(0, equals);
        std::wstring value = equals == std::wstring::npos ? L"" : arg.substr(equals + 1);
        if (name == L"-pid")
            options.Pid = std::to_wstring(NumberOf(value));
        else if (name == L"-out")
            options.OutPath = value;
        else if (name == L"-name")
            options.AnswerName = value;
        else if (name == L"-value")
            options.AnswerValue = value;
        else if (name == L"-length")
            options.AnnouncedLength = static_cast<std::uint32_t>(NumberOf(value));
        else if (name == L"-deep")
            options.DeepLevels = NumberOf(value);
        else if (name == L"-split")
            options.SplitBytes = NumberOf(value);
        else if (arg == L"-noanswer")
            options.NoAnswer = true;
        else if (name == L"-delay")
            options.DelayMs = static_cast<DWORD>(NumberOf(value));
        else if (name == L"-requests")
            options.Requests = NumberOf(value);
        else
            throw EUsage("unknown option: " + WideToUtf8(arg));
    }
    return options;
}

// Whole lines, written at once and unbuffered, so that a reader of the file or the
// pipe sees each line as soon as it is complete.
class TLineWriter
{
public:
    explicit TLineWriter(const std::wstring& Path)
    {
        if (Path.empty())
            return;
        FFile.Reset(CreateFileW(Path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!FFile)
            ThrowLastError("CreateFileW");
    }

    void WriteLine(std::wstring_view Text) const
    {
        std::string line = WideToUtf8(Text) + "\r\n";
        HANDLE target = FFile ? FFile.Get() : GetStdHandle(STD_OUTPUT_HANDLE);
        DWORD written = 0;
        WriteFile(target, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }

private:
    TUniqueHandle FFile;
};

void PrintToConsole(std::wstring_view Text)
{
    std::string text = WideToUtf8(Text);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string AnswerBytes(const TOptions& Options)
{
    if (Options.AnnouncedLength)
    {
        auto length = PipeFrame::EncodeLength(*Options.AnnouncedLength);
        return std::string(length.begin(), length.end());
    }
    if (Options.DeepLevels > 0)
        return PipeFrame::EncodeFrame(L"{\"command\":\"" + Options.AnswerName + L"\",\"parameters\":{\"Result\":" +
                                      std::wstring(Options.DeepLevels, L'[') + std::wstring(Options.DeepLevels, L']') +
                                      L"}}");
    return PipeFrame::EncodeFrame(TTPPipeMessage::MakeMessage(Options.AnswerName, {L"Result"}, {Options.AnswerValue}));
}

void WriteAnswer(HANDLE Pipe, const std::string& Bytes, std::size_t PieceSize)
{
    if (PieceSize == 0)
        PieceSize = Bytes.size();
    for (std::size_t offset = 0; offset < Bytes.size(); offset += PieceSize)
    {
        DWORD written = 0;
        std::size_t size = std::min(PieceSize, Bytes.size() - offset);
        if (!WriteFile(Pipe, Bytes.data() + offset, static_cast<DWORD>(size), &written, nullptr))
            return;
        // A pause between pieces makes the reader see them one by one.
        if (PieceSize < Bytes.size())
            Sleep(1);
    }
}

// Until the client closes its end. Disconnecting earlier would throw away an
// answer that the client has not read yet.
void WaitForClientToClose(HANDLE Pipe)
{
    char ignored[256];
    DWORD read = 0;
    while (ReadFile(Pipe, ignored, sizeof(ignored), &read, nullptr))
    {
    }
}

void ServeConnection(HANDLE Pipe, const TOptions& Options, const TLineWriter& Out)
{
    std::optional<std::string> payload = PipeFrame::ReadFrame(Pipe);
    if (payload)
    {
        std::wstring request = PipeFrame::DecodeText(*payload);
        // JSON needs no line breaks outside its strings, and inside them they are escaped.
        std::replace_if(request.begin(), request.end(), [](wchar_t c) { return c == L'\r' || c == L'\n'; }, L' ');
        Out.WriteLine(request);
        Sleep(Options.DelayMs);
        if (!Options.NoAnswer)
            WriteAnswer(Pipe, AnswerBytes(Options), Options.SplitBytes);
    }
    WaitForClientToClose(Pipe);
}

TUniqueHandle CreateInstance(const std::wstring& PipeName)
{
    TUniqueHandle pipe(CreateNamedPipeW(PipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                        65536, 65536, 0, nullptr));
    if (!pipe)
        ThrowLastError("CreateNamedPipeW");
    return pipe;
}

void Serve(const TOptions& Options)
{
    std::wstring pipeName = L"\\\\.\\pipe\\clientremotepipe" + Options.Pid;
    TUniqueHandle pipe = CreateInstance(pipeName);
    TLineWriter out(Options.OutPath);
    PrintToConsole(L"master_standin: serving " + pipeName + L" as process " + std::to_wstring(GetCurrentProcessId()) +
                   L"\r\n");
    for (unsigned long served = 0; Options.Requests == 0 || served < Options.Requests; ++served)
    {
        if (!ConnectNamedPipe(pipe.Get(), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
            ThrowLastError("ConnectNamedPipe");
        // The next instance waits before this client is served: the bridge tries to
        // open the pipe four times without a pause, and a send right behind another
        // must not find the only instance still taken.
        TUniqueHandle next = CreateInstance(pipeName);
        ServeConnection(pipe.Get(), Options, out);
        pipe = std::move(next);
    }
}

} // namespace

int main()
{
    try
    {
        Serve(ReadOptions());
        return 0;
    }
    catch (const EUsage& e)
    {
        std::fprintf(stderr, "master_standin: %s\n", e.what());
        std::fputws(UsageText, stderr);
        return 2;
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "master_standin: %s\n", e.what());
        return 1;
    }
}
