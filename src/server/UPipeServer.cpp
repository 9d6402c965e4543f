#include "server/UPipeServer.h"

#include "base/SecurityDescriptor.h"
#include "base/TextConversion.h"
#include "base/WinError.h"
#include "messages/PipeFrame.h"
#include "startup/UN_GlobalVars.h"

#include <windows.h>
#include <objbase.h>
#include <sddl.h>

#include <algorithm>
#include <vector>

namespace
{

constexpr wchar_t PipeNamePrefix[] = L"\\\\.\\pipe\\uxsvc_";

constexpr DWORD PipeDefaultTimeoutMs = 1000;

// What LocalSystem (the service side) and the Administrators get:
// FILE_GENERIC_READ | FILE_GENERIC_WRITE without FILE_CREATE_PIPE_INSTANCE, so that
// a client opening the pipe with GENERIC_READ | GENERIC_WRITE is admitted (those
// also ask for READ_CONTROL and the extended attributes), while no one else can
// add an instance and take requests meant for the bridge. Windows leaves
// FILE_CREATE_PIPE_INSTANCE (the bit FILE_APPEND_DATA shares) out of a client's
// open of a named pipe, so a client never needs it.
constexpr wchar_t ClientRights[] = L"0x12019B";

TUniqueHandle CreateManualResetEvent()
{
    TUniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event)
        ThrowLastError("CreateEventW");
    return event;
}

enum class TIoResult
{
    Done,
    Failed,
    TimedOut,
    Stopping
};

struct TIoStatus
{
    TIoResult Result;
    DWORD Bytes;
    DWORD Error;
};

// Starts one overlapped operation and waits for it, for the stop event or for the
// time-out. A cancelled operation is waited for to its end, because the kernel
// writes into AIoEvent's OVERLAPPED and the caller's buffer until then.
template <typename TStart>
TIoStatus RunOverlapped(HANDLE AFile, HANDLE AIoEvent, HANDLE AStopEvent, DWORD ATimeoutMs, TStart AStart)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = AIoEvent;
    ResetEvent(AIoEvent);
    if (AStart(&overlapped))
    {
        // Done at once (the data or the room was there): the result is in
        // OVERLAPPED already, and waiting would only cost a kernel call.
        DWORD bytes = 0;
        GetOverlappedResult(AFile, &overlapped, &bytes, FALSE);
        return {TIoResult::Done, bytes, ERROR_SUCCESS};
    }
    if (DWORD error = GetLastError(); error != ERROR_IO_PENDING)
        return {TIoResult::Failed, 0, error};
    HANDLE waits[] = {AIoEvent, AStopEvent};
    DWORD wait = WaitForMultipleObjects(2, waits, FALSE, ATimeoutMs);
    if (wait != WAIT_OBJECT_0)
        CancelIoEx(AFile, &overlapped);
    DWORD bytes = 0;
    if (GetOverlappedResult(AFile, &overlapped, &bytes, TRUE))
        return {TIoResult::Done, bytes, ERROR_SUCCESS};
    DWORD error = GetLastError();
    if (wait == WAIT_TIMEOUT)
        return {TIoResult::TimedOut, 0, error};
    if (wait == WAIT_OBJECT_0 + 1)
        return {TIoResult::Stopping, 0, error};
    return {TIoResult::Failed, 0, error};
}

// Ways in which a client ends the exchange by going away; no fault of ours.
bool IsClientGone(DWORD AError)
{
    return AError == ERROR_BROKEN_PIPE || AError == ERROR_NO_DATA || AError == ERROR_PIPE_NOT_CONNECTED;
}

DWORD InstanceCount(HANDLE APipe)
{
    DWORD count = 0;
    Check(GetNamedPipeHandleStateW(APipe, nullptr, &count, nullptr, nullptr, nullptr, 0), "GetNamedPipeHandleStateW");
    return count;
}

DWORD MillisecondsUntil(ULONGLONG ADeadline)
{
    ULONGLONG now = GetTickCount64();
    return now >= ADeadline ? 0 : static_cast<DWORD>(ADeadline - now);
}

} // namespace

std::wstring OwnUserSid()
{
    HANDLE rawToken = nullptr;
    Check(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken), "OpenProcessToken");
    TUniqueHandle token(rawToken);
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    Check(GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size), "GetTokenInformation");
    wchar_t* text = nullptr;
    Check(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text),
          "ConvertSidToStringSidW");
    TUniqueLocal<wchar_t> owned(text);
    return text;
}

TUniqueLocal<void> MakePipeSecurityDescriptor(const std::wstring& AOwner, const std::vector<std::wstring>& AClients)
{
    // The owner may always change the DACL, so it is named rather than left to the
    // token's default, which for an elevated bridge is the Administrators.
    std::wstring sddl = L"O:" + AOwner + L"G:" + AOwner + L"D:(A;;FA;;;" + AOwner + L")";
    for (const std::wstring& client : AClients)
        sddl += L"(A;;" + std::wstring(ClientRights) + L";;;" + client + L")";
    return SecurityDescriptorFromSddl(sddl);
}

// ---------------------------------------------------------------------------------

TInitializedThread::TInitializedThread(std::wstring AName, TDoExecute ADoExecute)
    : FName(std::move(AName)), FDoExecute(std::move(ADoExecute)),
      FThread([this](std::stop_token AStopToken) { Execute(AStopToken); })
{
}

void TInitializedThread::WaitFor()
{
    if (FThread.joinable())
        FThread.join();
}

void TInitializedThread::Execute(std::stop_token AStopToken) noexcept
{
    // The request commands run in this thread's single-threaded apartment.
    TComThreadInit apartment(COINIT_APARTMENTTHREADED);
    try
    {
        FDoExecute(AStopToken);
    }
    catch (const std::exception& e)
    {
        Log(L"[TInitializedThread.Execute]  EX  " + FName + L": " + WhatOf(e));
    }
    catch (...)
    {
        Log(L"[TInitializedThread.Execute]  EX  " + FName + L": unknown failure");
    }
}

// ---------------------------------------------------------------------------------

TPipeMessageHandler::TPipeMessageHandler(TNamedPipeServer& AServer, TUniqueHandle APipeHandle,
                                         ULONGLONG AConnectedAt)
    : FServer(AServer), FPipeHandle(std::move(APipeHandle)), FConnectedAt(AConnectedAt),
      FIoEvent(CreateManualResetEvent())
{
}

void TPipeMessageHandler::Execute() noexcept
{
    try
    {
        Serve();
    }
    catch (const std::exception& e)
    {
        Log(L"[TPipeMessageHandler.Execute]  EX  " + WhatOf(e));
    }
    catch (...)
    {
        Log(L"[TPipeMessageHandler.Execute]  EX  unknown failure");
    }
    // Closed first: the answer stays readable by the client even if the process
    // ends right after (which is what "REQCPIPE" leaves behind).
    FPipeHandle.Reset();
    FServer.RequestServed();
}

void TPipeMessageHandler::Serve()
{
    // The silence limit counts from the connection, so silent clients queued
    // together expire together instead of one after the other; the command's own
    // time counts against neither the request's limit nor the answer's.
    const auto silenceMs = static_cast<ULONGLONG>(FServer.ClientSilence().count());
    ULONGLONG deadline = FConnectedAt + silenceMs;
    unsigned char lengthBytes[PipeFrame::LengthSize];
    if (!Transfer(false, reinterpret_cast<char*>(lengthBytes), sizeof(lengthBytes), deadline))
        return;
    std::uint32_t length = PipeFrame::DecodeLength(lengthBytes);
    if (length == 0)
        return;
    if (length > PipeFrame::MaxPayloadBytes)
    {
        Log(L"[TPipeMessageHandler.Execute] request of " + std::to_wstring(length) +
            L" bytes refused, the limit is " + std::to_wstring(PipeFrame::MaxPayloadBytes));
        return;
    }
    std::string payload(length, '\0');
    if (!Transfer(false, payload.data(), length, deadline))
        return;

    std::wstring response = FServer.HandleRequest(PipeFrame::DecodeText(payload));
    if (response.empty())
        return;

    std::string answer = PipeFrame::EncodeText(response);
    auto answerLength = PipeFrame::EncodeLength(static_cast<std::uint32_t>(answer.size()));
    deadline = GetTickCount64() + silenceMs;
    if (Transfer(true, reinterpret_cast<char*>(answerLength.data()), PipeFrame::LengthSize, deadline))
        Transfer(true, answer.data(), static_cast<DWORD>(answer.size()), deadline);
}

bool TPipeMessageHandler::Transfer(bool AWrite, char* AData, DWORD ASize, ULONGLONG ADeadline)
{
    HANDLE pipe = FPipeHandle.Get();
    DWORD done = 0;
    while (done < ASize)
    {
        DWORD chunk = std::min(ASize - done, FServer.BufferSize());
        TIoStatus status = RunOverlapped(pipe, FIoEvent.Get(), FServer.FStopEvent.Get(),
                                         MillisecondsUntil(ADeadline), [&](OVERLAPPED* AOverlapped) {
                                             return AWrite ? WriteFile(pipe, AData + done, chunk, nullptr, AOverlapped)
                                                           : ReadFile(pipe, AData + done, chunk, nullptr, AOverlapped);
                                         });
        switch (status.Result)
        {
        case TIoResult::Done:
            // No bytes is no progress: a client that keeps writing empty messages
            // (or a pipe that reports its end so) would otherwise hold the worker.
            if (status.Bytes == 0)
                return false;
            done += status.Bytes;
            break;
        case TIoResult::TimedOut:
            Log(std::wstring(AWrite ? L"[TPipeMessageHandler.Execute] answer not taken within "
                                    : L"[TPipeMessageHandler.Execute] no whole request within ") +
                std::to_wstring(FServer.ClientSilence().count()) + L" ms, connection closed");
            return false;
        case TIoResult::Stopping:
            return false;
        case TIoResult::Failed:
            if (IsClientGone(status.Error))
                return false;
            ThrowWin32Error(status.Error, AWrite ? "WriteFile" : "ReadFile");
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------

TPipeListenerThread::TPipeListenerThread(TNamedPipeServer& AServer, std::wstring APipeName)
    : FServer(AServer), FPipeName(std::move(APipeName)),
      FThread(L"listener", [this](std::stop_token AStopToken) { DoExecute(AStopToken); })
{
}

void TPipeListenerThread::Stop()
{
    FThread.Terminate();
    FThread.WaitFor();
}

void TPipeListenerThread::DoExecute(std::stop_token AStopToken)
{
    // Not inherited: programs that "OPENURL" starts must not hold a connection open.
    TSecurityAttributes security(MakePipeSecurityDescriptor(OwnUserSid(), {L"SY", L"BA"}));
    auto createInstance = [&](DWORD AFirstInstanceFlag) {
        // Message type for the client's reads; byte read mode here, so the request
        // may arrive in any number of the client's writes.
        return CreateNamedPipeW(FPipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | AFirstInstanceFlag,
                                PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                PIPE_UNLIMITED_INSTANCES, FServer.BufferSize(), FServer.BufferSize(),
                                PipeDefaultTimeoutMs, security.Get());
    };

    // Only the first instance may create the name; if it exists, another process
    // made it and would share our clients' requests. Windows refuses the first
    // instance then (ERROR_ACCESS_DENIED); Wine 8 ignores the flag, so the count
    // of instances is checked as well.
    TUniqueHandle instance(createInstance(FILE_FLAG_FIRST_PIPE_INSTANCE));
    if (!instance && GetLastError() != ERROR_ACCESS_DENIED)
        ThrowLastError("CreateNamedPipeW");
    if (!instance || InstanceCount(instance.Get()) != 1)
    {
        Log(L"[TPipeListenerThread.Execute] " + FPipeName +
            L" already belongs to another process, no request is served");
        return;
    }

    TUniqueHandle connectEvent = CreateManualResetEvent();
    while (!AStopToken.stop_requested())
    {
        HANDLE pipe = instance.Get();
        TIoStatus status = RunOverlapped(pipe, connectEvent.Get(), FServer.FStopEvent.Get(), INFINITE,
                                         [&](OVERLAPPED* AOverlapped) { return ConnectNamedPipe(pipe, AOverlapped); });
        if (status.Result == TIoResult::Stopping || AStopToken.stop_requested())
            return;
        bool connected = status.Result == TIoResult::Done || status.Error == ERROR_PIPE_CONNECTED;
        ULONGLONG connectedAt = GetTickCount64();

        TUniqueHandle next(createInstance(0));
        if (!next)
            ThrowLastError("CreateNamedPipeW");
        // A failed connect (a client that came and went) only closes that instance.
        if (connected)
            FServer.FQueue.Push(std::make_unique<TPipeMessageHandler>(FServer, std::move(instance), connectedAt));
        instance = std::move(next);
    }
}

// ---------------------------------------------------------------------------------

TPipeWorkerThread::TPipeWorkerThread(TNamedPipeServer& AServer)
    : FServer(AServer), FThread(L"worker", [this](std::stop_token AStopToken) { DoExecute(AStopToken); })
{
}

void TPipeWorkerThread::Stop()
{
    FThread.Terminate();
    FThread.WaitFor();
}

void TPipeWorkerThread::DoExecute(std::stop_token AStopToken)
{
    while (!AStopToken.stop_requested())
    {
        std::unique_ptr<TPipeMessageHandler> handler = FServer.FQueue.Pop();
        if (!handler)
            return;
        handler->Execute();
    }
}

// ---------------------------------------------------------------------------------

TNamedPipeServer::TNamedPipeServer(std::wstring AServerID, std::chrono::milliseconds AClientSilenceLimit)
    : FServerID(std::move(AServerID)), FClientSilenceLimit(AClientSilenceLimit), FStopEvent(CreateManualResetEvent())
{
    FQueue.SetName(ServerID());
}

TNamedPipeServer::~TNamedPipeServer()
{
    Shutdown();
}

std::wstring TNamedPipeServer::ServerID() const
{
    return FServerID.empty() ? std::to_wstring(GetCurrentProcessId()) : FServerID;
}

std::wstring TNamedPipeServer::PipeName() const
{
    return PipeNamePrefix + ServerID();
}

void TNamedPipeServer::Start()
{
    FWorker = std::make_unique<TPipeWorkerThread>(*this);
    FListener = std::make_unique<TPipeListenerThread>(*this, PipeName());
    Log(L"[TNamedPipeServer.Create] " + PipeName());
}

void TNamedPipeServer::Shutdown() noexcept
{
    SetEvent(FStopEvent.Get());
    // A listener waiting for a free place in the queue goes on once the worker
    // has taken a handler; with the stop event set, those handlers end at once.
    if (FListener)
        FListener->Stop();
    try
    {
        FQueue.Terminate();
    }
    catch (const std::exception& e)
    {
        Log(L"[TNamedPipeServer.Destroy]  EX  " + WhatOf(e));
    }
    if (FWorker)
        FWorker->Stop();
    FListener.reset();
    FWorker.reset();
}
