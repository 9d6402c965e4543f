#include "BenchPipe.h"

#include "messages/PipeFrame.h"

#include <algorithm>
#include <thread>

namespace bench
{

namespace
{

bool ReadExact(HANDLE pipe, char* buffer, DWORD size)
{
    DWORD offset = 0;
    while (offset < size)
    {
        DWORD read = 0;
        if (!ReadFile(pipe, buffer + offset, std::min(ChunkSize, size - offset), &read, nullptr) || read == 0)
            return false;
        offset += read;
    }
    return true;
}

bool WriteAll(HANDLE pipe, const char* data, DWORD size)
{
    DWORD offset = 0;
    while (offset < size)
    {
        DWORD written = 0;
        if (!WriteFile(pipe, data + offset, std::min(ChunkSize, size - offset), &written, nullptr))
            return false;
        offset += written;
    }
    return true;
}

} // namespace

bool WriteFrame(HANDLE Pipe, const std::string& Payload)
{
    auto length = PipeFrame::EncodeLength(static_cast<std::uint32_t>(Payload.size()));
    DWORD written = 0;
    return WriteFile(Pipe, length.data(), DWORD(length.size()), &written, nullptr) &&
           WriteAll(Pipe, Payload.data(), DWORD(Payload.size()));
}

std::optional<std::string> ReadFrame(HANDLE Pipe)
{
    unsigned char length[PipeFrame::LengthSize];
    if (!ReadExact(Pipe, reinterpret_cast<char*>(length), sizeof(length)))
        return std::nullopt;
    std::uint32_t size = PipeFrame::DecodeLength(length);
    if (size > PipeFrame::MaxPayloadBytes)
        return std::nullopt;
    std::string payload(size, '\0');
    if (!ReadExact(Pipe, payload.data(), size))
        return std::nullopt;
    return payload;
}

TExchange Exchange(const std::wstring& PipeName, const std::string& RequestPayload)
{
    TExchange exchange;
    TUniqueHandle pipe = ConnectToPipe(PipeName, std::chrono::seconds(10));
    if (!pipe || !WriteFrame(pipe.Get(), RequestPayload))
        return exchange;
    if (std::optional<std::string> answer = ReadFrame(pipe.Get()))
    {
        exchange.Answer = std::move(*answer);
        exchange.Completed = true;
        return exchange;
    }
    // No answer: complete when the server ended the connection, as it does for a
    // request it ignores.
    exchange.Completed = GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_PIPE_NOT_CONNECTED;
    return exchange;
}

} // namespace bench
