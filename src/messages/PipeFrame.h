// The frame that both pipes carry: a 4-byte little-endian byte count, then the text
// in UTF-16LE without byte-order mark or terminating zero.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace PipeFrame
{

constexpr std::size_t LengthSize = 4;

// Longest payload either side accepts; a larger announced length is refused
// before anything is allocated.
constexpr std::uint32_t MaxPayloadBytes = 1u << 20;

std::array<unsigned char, LengthSize> EncodeLength(std::uint32_t Length);
std::uint32_t DecodeLength(const unsigned char* Bytes);

// UTF-16LE bytes of Text (wchar_t is UTF-16 on Windows, so surrogate pairs pass whole).
std::string EncodeText(std::wstring_view Text);

// Text of UTF-16LE bytes; a trailing odd byte cannot be a character and is dropped.
std::wstring DecodeText(std::string_view Bytes);

// Length prefix and payload in one buffer.
std::string EncodeFrame(std::wstring_view Text);

// GetTickCount64 value of a transfer that may take as long as the other side likes.
constexpr ULONGLONG NoDeadline = ~0ull;

// Blocking transfers on a pipe opened without FILE_FLAG_OVERLAPPED. They go on
// until Size bytes have moved, whatever pieces the other side reads or writes in
// (the length prefix too may arrive split); a failing call, one that moves no
// bytes (a broken or cancelled pipe), or Deadline passing between two calls ends
// the transfer as failed. A call that blocks is ended by cancelling it.
bool ReadExact(HANDLE Pipe, char* Data, std::size_t Size, ULONGLONG Deadline = NoDeadline);
bool WriteExact(HANDLE Pipe, const char* Data, std::size_t Size, ULONGLONG Deadline = NoDeadline);

// The length prefix, then Payload's bytes.
bool WriteFrame(HANDLE Pipe, std::string_view Payload, ULONGLONG Deadline = NoDeadline);

// One frame's payload; nothing when the pipe ended or failed first (see ReadExact)
// or the length, read as signed, is 0 or less. Raises std::length_error, before
// allocating, for a length beyond MaxPayloadBytes.
std::optional<std::string> ReadFrame(HANDLE Pipe, ULONGLONG Deadline = NoDeadline);

} // namespace PipeFrame
