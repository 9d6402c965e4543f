#include "startup/GF_SupportFunctions.h"

#include <windows.h>

#include <algorithm>
#include <climits>

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

int IntegerFromText(std::wstring_view Text, int Default, TNumberForms Forms)
{
    int base = 10;
    bool negative = false;
    std::size_t i = 0;
    if (i < Text.size() && (Text[i] == L'-' || Text[i] == L'+'))
        negative = Text[i++] == L'-';
    if (Forms == TNumberForms::nfDecimalOrHex)
    {
        if (i < Text.size() && Text[i] == L'$')
        {
            base = 16;
            ++i;
        }
        else if (i + 1 < Text.size() && Text[i] == L'0' && (Text[i + 1] == L'x' || Text[i + 1] == L'X'))
        {
            base = 16;
            i += 2;
        }
    }
    if (i == Text.size())
        return Default;

    long long value = 0;
    for (; i < Text.size(); ++i)
    {
        wchar_t c = Text[i];
        int digit;
        if (c >= L'0' && c <= L'9')
            digit = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f')
            digit = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F')
            digit = c - L'A' + 10;
        else
            return Default;
        value = value * base + digit;
        if (value > 0x80000000LL)
            return Default;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX || value < INT_MIN)
        return Default;
    return static_cast<int>(value);
}
