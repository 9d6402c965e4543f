// The text conversions of the whole program: UTF-8 and the ANSI code page to and
// from the UTF-16 used inside, a failure's message for a log line, and the
// truncating copy into the fixed buffers of Win32 structures.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view text);
// From the system's ANSI code page.
std::wstring AnsiToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);

// A failure's message, for a log line.
std::wstring WhatOf(const std::exception& Failure);

// Copies text into a fixed, zero-terminated buffer, cut to Capacity - 1 UTF-16
// units at most, never inside a surrogate pair.
void CopyTruncated(wchar_t* Buffer, std::size_t Capacity, std::wstring_view text);

template <std::size_t N>
void CopyTruncated(wchar_t (&Buffer)[N], std::wstring_view text)
{
    CopyTruncated(Buffer, N, text);
}
