// The service side's end of the request pipe as the tests need it: raw bytes in,
// each pipe message out, with time limits so that a broken server fails a test
// instead of hanging it.
#pragma once

#include "base/WinHandle.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace server_test
{

class TPipeTestClient
{
public:
    // Waits up to 10 s for a free instance; Connected() tells whether one came.
    // By default opened as the service side opens it.
    explicit TPipeTestClient(const std::wstring& APipeName, DWORD AAccess = GENERIC_READ | GENERIC_WRITE);

    [[nodiscard]] bool Connected() const noexcept { return FPipe.IsValid(); }
    [[nodiscard]] DWORD ConnectError() const noexcept { return FConnectError; }
    [[nodiscard]] HANDLE Handle() const noexcept { return FPipe.Get(); }

    bool Write(const std::string& ABytes);
    bool WriteRequest(const std::wstring& AText);

    // One pipe message; nothing when the server closed the pipe or the time ran out
    // (TimedOut() tells which).
    std::optional<std::string> ReadMessage(DWORD ATimeoutMs = 15000);
    [[nodiscard]] bool TimedOut() const noexcept { return FTimedOut; }

    // Every message until the server closes the pipe.
    std::vector<std::string> ReadAllMessages(DWORD ATimeoutMs = 15000);

    // The answer's text (length message, then its chunks); nothing when the server
    // closed the pipe without one.
    std::optional<std::wstring> ReadAnswer(DWORD ATimeoutMs = 15000);

    // True while the pipe is open and nothing has arrived.
    [[nodiscard]] bool Waiting() const;

private:
    TUniqueHandle FPipe;
    TUniqueHandle FIoEvent;
    DWORD FConnectError = ERROR_SUCCESS;
    bool FTimedOut = false;
};

// Sends one request text and returns the answer's text, if any.
std::optional<std::wstring> Exchange(const std::wstring& APipeName, const std::wstring& ARequest);

} // namespace server_test
