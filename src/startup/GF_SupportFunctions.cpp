#include "startup/GF_SupportFunctions.h"

#include <windows.h>

#include <algorithm>

TCharSet MakeCharSet(std::wstring_view chars)
{
    TCharSet set;
    for (wchar_t c : chars)
        if (c < 256)
            set.set(c);
    return set;
}

std::wstring StripChars(std::wstring_view S, const TCharSet& CharSet)
{
    std::wstring result;
    result.reserve(S.size());
    for (wchar_t c : S)
        if (c > 255 || !CharSet.test(c))
            result.push_back(c);
    return result;
}

std::wstring TrimControlAndBlanks(std::wstring_view S)
{
    auto isSpace = [](wchar_t c) { return c <= L' '; };
    auto first = std::find_if_not(S.begin(), S.end(), isSpace);
    auto last = std::find_if_not(S.rbegin(), std::make_reverse_iterator(first), isSpace).base();
    return std::wstring(first, last);
}

std::wstring Utf8ToWide(std::string_view text)
{
    if (text.empty())
        return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    return result;
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
    std::copy_n(text.data(), count, Buffer);
    std::fill(Buffer + count, Buffer + Capacity, L'\0');
}

std::wstring GetLoggedUserName()
{
    // UNLEN (256) characters and the terminating zero: the size stated to the
    // call counts that zero, so a name of the greatest length fits whole.
    wchar_t name[257] = {};
    DWORD size = 257;
    if (!GetUserNameW(name, &size))
        return {};
    return name;
}

int GetOwnProcessId()
{
    return static_cast<int>(GetCurrentProcessId());
}
