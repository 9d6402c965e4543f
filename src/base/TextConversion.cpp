#include "base/TextConversion.h"

#include <windows.h>

#include <algorithm>

namespace
{

// Empty when the text cannot be converted.
std::wstring MultiByteToWide(UINT CodePage, std::string_view text)
{
    if (text.empty())
        return {};
    int length = MultiByteToWideChar(CodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CodePage, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
}

} // namespace

std::wstring Utf8ToWide(std::string_view text)
{
    return MultiByteToWide(CP_UTF8, text);
}

std::wstring AnsiToWide(std::string_view text)
{
    return MultiByteToWide(CP_ACP, text);
}

std::wstring WhatOf(const std::exception& Failure)
{
    return Utf8ToWide(Failure.what());
}

std::string WideToUtf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr, nullptr);
    return result;
}

void CopyTruncated(wchar_t* Buffer, std::size_t Capacity, std::wstring_view text)
{
    if (Capacity == 0)
        return;
    std::size_t count = std::min(text.size(), Capacity - 1);
    // A cut between the two halves of a surrogate pair would leave half a
    // character behind; the cut moves before the pair instead.
    if (count < text.size() && count > 0 && IS_HIGH_SURROGATE(text[count - 1]))
        --count;
    std::copy_n(text.data(), count, Buffer);
    std::fill(Buffer + count, Buffer + Capacity, L'\0');
}
