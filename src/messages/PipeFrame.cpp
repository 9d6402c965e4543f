#include "messages/PipeFrame.h"

#include <stdexcept>

namespace PipeFrame
{

static_assert(sizeof(wchar_t) == 2, "the pipes carry UTF-16 code units");

std::array<unsigned char, LengthSize> EncodeLength(std::uint32_t Length)
{
    return {static_cast<unsigned char>(Length), static_cast<unsigned char>(Length >> 8),
            static_cast<unsigned char>(Length >> 16), static_cast<unsigned char>(Length >> 24)};
}

std::uint32_t DecodeLength(const unsigned char* Bytes)
{
    return std::uint32_t(Bytes[0]) | std::uint32_t(Bytes[1]) << 8 | std::uint32_t(Bytes[2]) << 16 |
           std::uint32_t(Bytes[3]) << 24;
}

std::string EncodeText(std::wstring_view Text)
{
    std::string bytes;
    bytes.reserve(Text.size() * 2);
    for (wchar_t unit : Text)
    {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return bytes;
}

std::wstring DecodeText(std::string_view Bytes)
{
    std::wstring text;
    text.reserve(Bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < Bytes.size(); i += 2)
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(Bytes[i]) |
                                            static_cast<unsigned char>(Bytes[i + 1]) << 8));
    return text;
}

std::string EncodeFrame(std::wstring_view Text)
{
    std::string payload = EncodeText(Text);
    auto length = EncodeLength(static_cast<std::uint32_t>(payload.size()));
    return std::string(length.begin(), length.end()) + payload;
}

namespace
{

bool BeforeDeadline(ULONGLONG Deadline) { return Deadline == NoDeadline || GetTickCount64() < Deadline; }

} // namespace

bool ReadExact(HANDLE Pipe, char* Data, std::size_t Size, ULONGLONG Deadline)
{
    while (Size > 0)
    {
        DWORD read = 0;
        if (!BeforeDeadline(Deadline) || !ReadFile(Pipe, Data, static_cast<DWORD>(Size), &read, nullptr) ||
            read == 0)
            return false;
        Data += read;
        Size -= read;
    }
    return true;
}

bool WriteExact(HANDLE Pipe, const char* Data, std::size_t Size, ULONGLONG Deadline)
{
    while (Size > 0)
    {
        DWORD written = 0;
        if (!BeforeDeadline(Deadline) || !WriteFile(Pipe, Data, static_cast<DWORD>(Size), &written, nullptr) ||
            written == 0)
            return false;
        Data += written;
        Size -= written;
    }
    return true;
}

bool WriteFrame(HANDLE Pipe, std::string_view Payload, ULONGLONG Deadline)
{
    auto length = EncodeLength(static_cast<std::uint32_t>(Payload.size()));
    return WriteExact(Pipe, reinterpret_cast<const char*>(length.data()), length.size(), Deadline) &&
           WriteExact(Pipe, Payload.data(), Payload.size(), Deadline);
}

std::optional<std::string> ReadFrame(HANDLE Pipe, ULONGLONG Deadline)
{
    unsigned char length[LengthSize];
    if (!ReadExact(Pipe, reinterpret_cast<char*>(length), sizeof(length), Deadline))
        return std::nullopt;
    auto announced = static_cast<std::int32_t>(DecodeLength(length));
    if (announced <= 0)
        return std::nullopt;
    if (static_cast<std::uint32_t>(announced) > MaxPayloadBytes)
        throw std::length_error("frame of " + std::to_string(announced) + " bytes exceeds the limit of " +
                                std::to_string(MaxPayloadBytes));
    std::string payload(static_cast<std::size_t>(announced), '\0');
    if (!ReadExact(Pipe, payload.data(), payload.size(), Deadline))
        return std::nullopt;
    return payload;
}

} // namespace PipeFrame
