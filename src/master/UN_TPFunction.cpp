#include "master/UN_TPFunction.h"

#include "base/TextConversion.h"
#include "base/WinError.h"
#include "messages/PipeFrame.h"
#include "startup/GF_SupportFunctions.h"
#include "startup/UN_GlobalVars.h"
#include "startup/UN_SystemFolders.h"

#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

namespace
{

constexpr std::wstring_view WatcherTag = L"[THSendMSGToMasterPipe]";
constexpr std::wstring_view SendTag = L"[TTHSendMSGToMasterPipe.";
constexpr std::wstring_view ExchangeExceptionLine = L"[TTHSendMSGToMasterPipe.SendMessageToPipeAndGetResult] EX ";

constexpr int OpenAttempts = 4;
constexpr auto WatchPoll = std::chrono::milliseconds(20);
// After giving up, the watcher cancels the send thread's I/O until it ends, waiting
// for its end between two cancels. The cancel is repeated because the send thread
// may be between two calls when it comes (and then blocks in the next one); the
// bound keeps the watcher from waiting for ever on a thread stuck elsewhere.
constexpr auto CancelRetry = std::chrono::milliseconds(20);
constexpr int CancelAttempts = 50;

std::wstring MasterPipeName(std::wstring_view Pid) { return L"\\\\.\\pipe\\clientremotepipe" + std::wstring(Pid); }

// Whoever creates the pipe name first would receive the user's commands; only the
// master process itself may.
void CheckServedByMaster(HANDLE Pipe, std::wstring_view MasterPid)
{
    ULONG server = 0;
    Check(GetNamedPipeServerProcessId(Pipe, &server), "GetNamedPipeServerProcessId");
    if (std::to_wstring(server) != MasterPid)
        throw std::runtime_error("master pipe is served by process " + std::to_string(server) +
                                 ", not by the master process " + WideToUtf8(MasterPid));
}

// Giving up must not leave the send thread blocked on a master that never answers:
// failing its I/O lets it close the pipe and end.
void CancelSend(TTHSendMSGToMasterPipe& Send)
{
    for (int attempt = 0; attempt < CancelAttempts && !Send.Finish(); ++attempt)
    {
        Send.CancelPendingIo();
        if (Send.WaitFinish(CancelRetry))
            return;
    }
}

// The watcher: waits for the send thread at most WatchLimit, polling every
// WatchPoll (the designed 20 ms), and logs how long it took. Owns its share of
// the send by value.
void WatchSend(std::shared_ptr<TTHSendMSGToMasterPipe> Send, std::wstring Operation,
               std::chrono::milliseconds WatchLimit)
{
    try
    {
        auto start = std::chrono::steady_clock::now();
        // Detached: the send is fire-and-forget and nobody waits for it, not even
        // the process exit. The thread owns its share of the send.
        std::thread([Send] { Send->Execute(); }).detach();
        for (;;)
        {
            auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            // The time limit is checked first: a send that finishes in the poll in
            // which it runs out still counts as given up.
            if (elapsed > WatchLimit)
            {
                Log(std::wstring(WatcherTag) + Operation + L" force terminate afther " +
                    std::to_wstring(elapsed.count()));
                CancelSend(*Send);
                return;
            }
            if (Send->Finish())
            {
                Log(std::wstring(WatcherTag) + Operation + L" terminate afther " + std::to_wstring(elapsed.count()));
                return;
            }
            std::this_thread::sleep_for(WatchPoll);
        }
    }
    catch (const std::exception& e)
    {
        Log(std::wstring(WatcherTag) + Operation + L"  EX  " + WhatOf(e));
    }
}

} // namespace

// One row per command: its name in the envelope, the send operation whose name
// tags its log lines, and how its envelope is made. Only "SUINFO" carries
// parameters, fetched when the pipe is open, and logs the details of its send.
struct TMasterCommand
{
    std::wstring_view Name;
    std::wstring_view Operation;
    TTPPipeMessage (*MakeRequest)(const std::wstring& Command);
    bool LogsDetails;
};

namespace
{

TTPPipeMessage UserInfoRequest(const std::wstring& Command)
{
    return TTPPipeMessage(Command, {L"nome_utente", L"desktop_utente", L"tempdir_utente", L"local_appdata"},
                          {GetLoggedUserName(), GetDesktopFolder(), GetTempFolder(), GetLocalAppDataFolder()});
}

TTPPipeMessage BareRequest(const std::wstring& Command)
{
    return TTPPipeMessage(Command, {}, {});
}

constexpr TMasterCommand UserInfoCommand{L"SUINFO", L"SendUserInfo", UserInfoRequest, true};
constexpr TMasterCommand WakeUpNeoCommand{L"WAKEUPNEO", L"SendWakeUpNeo", BareRequest, false};
constexpr TMasterCommand LogoutCommand{L"REQLOGOUT", L"SendLogout", BareRequest, false};
constexpr TMasterCommand DisableUnattendedAccessCommand{L"REQDISERVICE", L"SendDisableUnattendedAccess", BareRequest,
                                                        false};
constexpr TMasterCommand QuitCommand{L"REQQUIT", L"SendQuit", BareRequest, false};

// In the order Execute tries them; names match exactly, letter case included.
constexpr const TMasterCommand* MasterCommands[] = {&UserInfoCommand, &WakeUpNeoCommand, &LogoutCommand,
                                                    &DisableUnattendedAccessCommand, &QuitCommand};

void StartSend(const TMasterCommand& Command, int Pid)
{
    SendMSGToMasterPipe(std::wstring(Command.Name), std::to_wstring(Pid), MasterSendWatchLimit);
}

} // namespace

void TPF_SendUserInfo(int pid) { StartSend(UserInfoCommand, pid); }
void TPF_SendWakeUpNeo(int pid) { StartSend(WakeUpNeoCommand, pid); }
void TPF_SendLogout(int pid) { StartSend(LogoutCommand, pid); }
void TPF_SendDisableUnattendedAccess(int pid) { StartSend(DisableUnattendedAccessCommand, pid); }
void TPF_SendQuit(int pid) { StartSend(QuitCommand, pid); }

void SendMSGToMasterPipe(std::wstring msgType, std::wstring pid, std::chrono::milliseconds WatchLimit)
{
    try
    {
        auto send = std::make_shared<TTHSendMSGToMasterPipe>(msgType, std::move(pid), WatchLimit);
        // Detached: the caller (start-up, a menu click) must not wait; the watcher
        // owns its share of the send and ends on its own after at most WatchLimit.
        std::thread(WatchSend, std::move(send), std::move(msgType), WatchLimit).detach();
    }
    catch (const std::exception& e)
    {
        Log(L"[SendMSGToMasterPipe]  EX  " + WhatOf(e));
    }
}

TTHSendMSGToMasterPipe::TTHSendMSGToMasterPipe(std::wstring operation, std::wstring pidmasterPipe,
                                               std::chrono::milliseconds WatchLimit)
    : _operation(std::move(operation)), _pidmasterPipe(std::move(pidmasterPipe)),
      FDeadline(GetTickCount64() + static_cast<ULONGLONG>(WatchLimit.count()))
{
}

void TTHSendMSGToMasterPipe::SetFinish() noexcept
{
    std::lock_guard lock(FFinishLock);
    _finish = true;
    FFinished.NotifyAll();
}

bool TTHSendMSGToMasterPipe::WaitFinish(std::chrono::milliseconds Timeout)
{
    std::unique_lock lock(FFinishLock);
    return FFinished.WaitFor(lock, static_cast<DWORD>(Timeout.count()), [this] { return _finish.load(); });
}

void TTHSendMSGToMasterPipe::Execute()
{
    try
    {
        {
            // std::thread's native handle is no Win32 handle under winpthreads, so
            // the thread opens its own for the canceller.
            std::lock_guard lock(FRunningThreadLock);
            FRunningThread.Reset(OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId()));
        }
        Log(L"[TTHSendMSGToMasterPipe.Execute ] Start " + _operation);
        try
        {
            for (const TMasterCommand* command : MasterCommands)
                if (_operation == command->Name)
                {
                    SendCommand(*command);
                    break;
                }
        }
        catch (const std::exception&)
        {
            // The send operations log their own failures; the outcome is not used here.
        }
        {
            std::lock_guard lock(FRunningThreadLock);
            FRunningThread.Reset();
        }
        SetFinish();
        Log(L"[TTHSendMSGToMasterPipe.Execute ] END " + _operation);
    }
    catch (...)
    {
        // A thread body must not let anything out; the log itself has failed here.
        SetFinish();
    }
}

void TTHSendMSGToMasterPipe::CancelPendingIo()
{
    std::lock_guard lock(FRunningThreadLock);
    if (FRunningThread)
        CancelSynchronousIo(FRunningThread.Get()); // ERROR_NOT_FOUND when between calls: the caller repeats
}

bool TTHSendMSGToMasterPipe::SendUserInfo() { return SendCommand(UserInfoCommand); }
bool TTHSendMSGToMasterPipe::SendWakeUpNeo() { return SendCommand(WakeUpNeoCommand); }
bool TTHSendMSGToMasterPipe::SendLogout() { return SendCommand(LogoutCommand); }
bool TTHSendMSGToMasterPipe::SendDisableUnattendedAccess() { return SendCommand(DisableUnattendedAccessCommand); }
bool TTHSendMSGToMasterPipe::SendQuit() { return SendCommand(QuitCommand); }

bool TTHSendMSGToMasterPipe::SendCommand(const TMasterCommand& Command)
{
    std::wstring tag = std::wstring(SendTag) + std::wstring(Command.Operation) + L"]";
    TUniqueHandle pipe = OpenMasterPipe(MasterPipeName(_pidmasterPipe));
    if (!pipe)
    {
        Log(tag + L" pipe not connected  ");
        return false;
    }
    bool outcome = false;
    try
    {
        std::optional<TTPPipeMessage> answer =
            SendMessageToPipeAndGetResult(pipe.Get(), Command.MakeRequest(std::wstring(Command.Name)));
        if (answer && answer->Name() == L"Result")
        {
            std::wstring result = answer->GetData(L"Result");
            outcome = result == L"OK";
            if (Command.LogsDetails)
                Log(tag + L"  Result  " + result);
        }
    }
    catch (const std::exception& e)
    {
        Log(tag + L"  EX  " + WhatOf(e));
    }
    if (Command.LogsDetails)
        Log(tag + L"  CloseHandle(pipe) ");
    return outcome;
}

TUniqueHandle TTHSendMSGToMasterPipe::OpenMasterPipe(const std::wstring& PipeName)
{
    TUniqueHandle pipe;
    for (int attempt = 0; attempt < OpenAttempts && !pipe; ++attempt)
        // Identification only: whoever serves the pipe may learn who we are but
        // cannot act with our token.
        pipe.Reset(CreateFileW(PipeName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    return pipe;
}

std::optional<TTPPipeMessage> TTHSendMSGToMasterPipe::SendMessageToPipeAndGetResult(HANDLE Pipe,
                                                                                    const TTPPipeMessage& Request)
{
    try
    {
        CheckServedByMaster(Pipe, _pidmasterPipe);
        std::string payload = PipeFrame::EncodeText(Request.AsString());
        if (payload.empty() || !PipeFrame::WriteFrame(Pipe, payload, FDeadline))
            return std::nullopt;
        std::optional<std::string> answer = PipeFrame::ReadFrame(Pipe, FDeadline);
        if (!answer)
            return std::nullopt;
        return TTPPipeMessage(std::wstring_view(PipeFrame::DecodeText(*answer)));
    }
    catch (const std::exception& e)
    {
        Log(std::wstring(ExchangeExceptionLine) + WhatOf(e));
        return std::nullopt;
    }
}
