// The bridge's own named-pipe server. A listener thread accepts connections on
// "\\.\pipe\uxsvc_" + ServerID and queues one handler per connection; one worker
// thread runs the handlers in the order their connections were accepted. Each
// handler reads one framed request (a 4-byte little-endian byte count, then
// UTF-16LE text), passes its text to HandleRequest and writes the answer back the
// same way, or nothing when the answer is empty, then closes the connection.
#pragma once

#include "base/WinHandle.h"
#include "server/UThreadQueue.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

class TNamedPipeServer;

// A client whose request is not whole this long after it connected, or that does
// not take its answer this long after it was written, is dropped, so that it
// cannot keep the requests behind it waiting. The program's value; a test that
// needs only the path gives its server a shorter one.
constexpr std::chrono::milliseconds ClientSilenceLimit{5000};

// The string SID of the user this process runs as.
std::wstring OwnUserSid();

// The security of the bridge's pipe: AOwner (a SID or SDDL alias; the bridge's own
// user) owns it and has full access; each of AClients (LocalSystem and the
// Administrators) may open it for GENERIC_READ | GENERIC_WRITE but may neither
// create an instance nor change the DACL; nobody else may open it.
TUniqueLocal<void> MakePipeSecurityDescriptor(const std::wstring& AOwner, const std::vector<std::wstring>& AClients);

// A thread whose body runs in a single-threaded COM apartment of its own (the
// request commands call the shell on the worker). A failure that leaves the body
// is logged with the thread's name and ends the thread. Started by the constructor;
// the destructor asks it to stop and joins it.
class TInitializedThread
{
public:
    using TDoExecute = std::function<void(std::stop_token)>;

    TInitializedThread(std::wstring AName, TDoExecute ADoExecute);

    // Sets the stop request that the body polls; it does not wake a blocked body.
    void Terminate() noexcept { FThread.request_stop(); }
    void WaitFor();

private:
    void Execute(std::stop_token AStopToken) noexcept;

    std::wstring FName;
    TDoExecute FDoExecute;
    std::jthread FThread;
};

// Serves one connected pipe instance, which it owns; runs on the worker thread.
class TPipeMessageHandler
{
public:
    // AConnectedAt: GetTickCount64 when the client connected; the whole request
    // must have arrived within the silence limit from then.
    TPipeMessageHandler(TNamedPipeServer& AServer, TUniqueHandle APipeHandle, ULONGLONG AConnectedAt);

    // Never raises; the connection is closed on every path.
    void Execute() noexcept;

private:
    void Serve();
    // Moves exactly ASize bytes in chunks of the server's BufferSize. False when
    // the exchange ended early (client gone, silent past ADeadline, a transfer of
    // no bytes, server stopping).
    bool Transfer(bool AWrite, char* AData, DWORD ASize, ULONGLONG ADeadline);

    TNamedPipeServer& FServer;
    TUniqueHandle FPipeHandle;
    ULONGLONG FConnectedAt;
    TUniqueHandle FIoEvent;
};

// Accepts connections and queues a handler for each. The instance that waits for
// the next client is created before the connected one is handed over, so the pipe
// name always belongs to this process while the listener runs.
class TPipeListenerThread
{
public:
    TPipeListenerThread(TNamedPipeServer& AServer, std::wstring APipeName);

    // The server's stop event must be set first; it wakes a pending connect.
    void Stop();

private:
    void DoExecute(std::stop_token AStopToken);

    TNamedPipeServer& FServer;
    std::wstring FPipeName;
    TInitializedThread FThread;
};

// Takes the handlers from the queue one at a time and runs them.
class TPipeWorkerThread
{
public:
    explicit TPipeWorkerThread(TNamedPipeServer& AServer);

    // Finishes the handler being run; handlers still queued are not served.
    void Stop();

private:
    void DoExecute(std::stop_token AStopToken);

    TNamedPipeServer& FServer;
    TInitializedThread FThread;
};

// A subclass answers the requests (HandleRequest), calls Start at the end of its
// constructor and Shutdown at the start of its destructor: threads that call the
// virtual HandleRequest may run only while the whole object exists.
class TNamedPipeServer
{
public:
    // AClientSilenceLimit: see ClientSilenceLimit, the program's value.
    TNamedPipeServer(std::wstring AServerID, std::chrono::milliseconds AClientSilenceLimit);
    TNamedPipeServer(const TNamedPipeServer&) = delete;
    TNamedPipeServer& operator=(const TNamedPipeServer&) = delete;
    virtual ~TNamedPipeServer();

    // The id given, or this process's id in decimal when that was empty.
    [[nodiscard]] std::wstring ServerID() const;
    [[nodiscard]] std::wstring PipeName() const;
    [[nodiscard]] DWORD BufferSize() const noexcept { return FBufferSize; }
    [[nodiscard]] std::chrono::milliseconds ClientSilence() const noexcept { return FClientSilenceLimit; }

protected:
    void Start();
    // Stops promptly, also while the listener waits for a client or a handler
    // waits for a silent one; the request being handled runs to its end.
    // May be called more than once.
    void Shutdown() noexcept;

    // Called on the worker thread, one call at a time, with the whole text of each
    // request that is not empty. An empty answer means: write nothing back.
    virtual std::wstring HandleRequest(const std::wstring& ARequest) = 0;
    // Called on the worker thread after each connection has been served and
    // closed, whatever the outcome: what a request leaves for after its answer.
    virtual void RequestServed() noexcept {}

    [[nodiscard]] int QueuedHandlers() const { return FQueue.Count(); }

private:
    friend class TPipeMessageHandler;
    friend class TPipeListenerThread;
    friend class TPipeWorkerThread;

    const DWORD FBufferSize = 4096;
    std::wstring FServerID;
    std::chrono::milliseconds FClientSilenceLimit;
    // Manual-reset; set once by Shutdown. Every wait on the pipe also waits on it.
    TUniqueHandle FStopEvent;
    UThreadQueue::TThreadQueue<TPipeMessageHandler> FQueue{64};
    std::unique_ptr<TPipeWorkerThread> FWorker;
    std::unique_ptr<TPipeListenerThread> FListener;
};
