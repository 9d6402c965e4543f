// The master-pipe client: fire-and-forget sends of one command each to the pipe
// "\\.\pipe\clientremotepipe<pid>" that the master process serves. Each send runs
// on two threads of its own, a watcher and a send thread; the caller learns the
// outcome only from the log.
#pragma once

#include "base/SlimLock.h"
#include "base/WinHandle.h"
#include "messages/UPipeMessage.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// How long the watcher waits for a send before it gives up on it. The
// program's starters use it; a test that needs only the path passes a shorter one.
constexpr std::chrono::milliseconds MasterSendWatchLimit{10000};

// Each takes the master process id and starts the send of its command, watched
// for MasterSendWatchLimit.
void TPF_SendUserInfo(int pid);
void TPF_SendWakeUpNeo(int pid);
void TPF_SendLogout(int pid);
void TPF_SendDisableUnattendedAccess(int pid);
void TPF_SendQuit(int pid);

// Starts the watcher for one command (which starts the send thread) and returns at
// once. The watcher gives up after WatchLimit.
void SendMSGToMasterPipe(std::wstring msgType, std::wstring pid, std::chrono::milliseconds WatchLimit);

struct TMasterCommand;

// One send: the work of the send thread and what it shares with its watcher (the
// finished flag and a way to cancel its pipe I/O). Held by shared_ptr by both
// threads. The send operations may also be run synchronously, which is how their
// outcome can be seen.
class TTHSendMSGToMasterPipe
{
public:
    // pidmasterPipe: the master process id in decimal, the suffix of the pipe's name.
    // WatchLimit: how long from now its watcher waits for it (MasterSendWatchLimit
    // in the program); the exchange makes no pipe call after that.
    TTHSendMSGToMasterPipe(std::wstring operation, std::wstring pidmasterPipe, std::chrono::milliseconds WatchLimit);
    TTHSendMSGToMasterPipe(const TTHSendMSGToMasterPipe&) = delete;
    TTHSendMSGToMasterPipe& operator=(const TTHSendMSGToMasterPipe&) = delete;

    // The thread body: runs the send operation named by the command, then sets Finish.
    void Execute();
    [[nodiscard]] bool Finish() const noexcept { return _finish; }
    // Waits until Finish holds or Timeout has passed; returns Finish().
    bool WaitFinish(std::chrono::milliseconds Timeout);

    // From another thread: makes a pipe read or write that Execute is blocked in
    // fail at once. Does nothing when Execute is not running.
    void CancelPendingIo();

    // True only for an answer "Result" whose parameter "Result" is "OK".
    bool SendUserInfo();
    bool SendWakeUpNeo();
    bool SendLogout();
    bool SendDisableUnattendedAccess();
    bool SendQuit();

    // Four immediate attempts; an empty handle when all fail.
    static TUniqueHandle OpenMasterPipe(const std::wstring& PipeName);

    // One request/answer exchange on the open pipe; nothing when it failed.
    std::optional<TTPPipeMessage> SendMessageToPipeAndGetResult(HANDLE Pipe, const TTPPipeMessage& Request);

private:
    // The steps all five send operations share; the request is made inside the
    // exception guard, once the pipe is open.
    bool SendCommand(const TMasterCommand& Command);
    void SetFinish() noexcept;

    std::wstring _operation;
    std::wstring _pidmasterPipe;
    std::atomic<bool> _finish{false};
    TSlimLock FFinishLock;
    TSlimCondition FFinished; // notified, under FFinishLock, when _finish is set
    // When the watcher gives up: the exchange's loops make no call after it, so a
    // master that trickles its answer cannot keep the send thread going either.
    ULONGLONG FDeadline;

    TSlimLock FRunningThreadLock;
    TUniqueHandle FRunningThread; // the thread inside Execute, for CancelSynchronousIo
};
