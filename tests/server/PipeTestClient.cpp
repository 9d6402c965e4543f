#include "PipeTestClient.h"

#include "messages/PipeFrame.h"

#include <chrono>

namespace server_test
{

TPipeTestClient::TPipeTestClient(const std::wstring& APipeName, DWORD AAccess)
    : FIoEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;)
    {
        FPipe.Reset(CreateFileW(APipeName.c_str(), AAccess, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                nullptr));
        if (FPipe)
            break;
        FConnectError = GetLastError();
        if ((FConnectError != ERROR_PIPE_BUSY && FConnectError != ERROR_FILE_NOT_FOUND) ||
            std::chrono::steady_clock::now() > deadline)
            return;
        if (!WaitNamedPipeW(APipeName.c_str(), 100))
            Sleep(20);
    }
    FConnectError = ERROR_SUCCESS;
    // Changing the read mode needs FILE_WRITE_ATTRIBUTES, which GENERIC_WRITE carries.
    if (AAccess & (GENERIC_WRITE | FILE_WRITE_ATTRIBUTES))
    {
        DWORD mode = PIPE_READMODE_MESSAGE;
        SetNamedPipeHandleState(FPipe.Get(), &mode, nullptr, nullptr);
    }
}

bool TPipeTestClient::Write(const std::string& ABytes)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = FIoEvent.Get();
    DWORD written = 0;
    if (!WriteFile(FPipe.Get(), ABytes.data(), static_cast<DWORD>(ABytes.size()), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING)
        return false;
    if (WaitForSingleObject(FIoEvent.Get(), 15000) != WAIT_OBJECT_0)
        CancelIoEx(FPipe.Get(), &overlapped);
    return GetOverlappedResult(FPipe.Get(), &overlapped, &written, TRUE) && written == ABytes.size();
}

bool TPipeTestClient::WriteRequest(const std::wstring& AText)
{
    return Write(PipeFrame::EncodeFrame(AText));
}

std::optional<std::string> TPipeTestClient::ReadMessage(DWORD ATimeoutMs)
{
    FTimedOut = false;
    std::string buffer(65536, '\0');
    OVERLAPPED overlapped{};
    overlapped.hEvent = FIoEvent.Get();
    if (!ReadFile(FPipe.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING)
        return std::nullopt;
    if (WaitForSingleObject(FIoEvent.Get(), ATimeoutMs) != WAIT_OBJECT_0)
    {
        CancelIoEx(FPipe.Get(), &overlapped);
        FTimedOut = true;
    }
    DWORD read = 0;
    if (!GetOverlappedResult(FPipe.Get(), &overlapped, &read, TRUE))
        return std::nullopt;
    FTimedOut = false;
    buffer.resize(read);
    return buffer;
}

std::vector<std::string> TPipeTestClient::ReadAllMessages(DWORD ATimeoutMs)
{
    std::vector<std::string> messages;
    while (auto message = ReadMessage(ATimeoutMs))
        messages.push_back(*message);
    return messages;
}

std::optional<std::wstring> TPipeTestClient::ReadAnswer(DWORD ATimeoutMs)
{
    std::vector<std::string> messages = ReadAllMessages(ATimeoutMs);
    if (messages.empty() || messages[0].size() != PipeFrame::LengthSize)
        return std::nullopt;
    std::string payload;
    for (std::size_t i = 1; i < messages.size(); ++i)
        payload += messages[i];
    if (PipeFrame::DecodeLength(reinterpret_cast<const unsigned char*>(messages[0].data())) != payload.size())
        return std::nullopt;
    return PipeFrame::DecodeText(payload);
}

bool TPipeTestClient::Waiting() const
{
    DWORD available = 0;
    return PeekNamedPipe(FPipe.Get(), nullptr, 0, nullptr, &available, nullptr) && available == 0;
}

std::optional<std::wstring> Exchange(const std::wstring& APipeName, const std::wstring& ARequest)
{
    TPipeTestClient client(APipeName);
    if (!client.Connected() || !client.WriteRequest(ARequest))
        return std::nullopt;
    return client.ReadAnswer();
}

} // namespace server_test
