#include "startup/UN_GlobalVars.h"

#include <climits>

std::unique_ptr<TTxtFileLog> _Log;
std::wstring _AppVersion;
std::wstring _AppName;
std::wstring _MasterPidText;
int _MasterPid = 0;
std::wstring _HelloMsg;
bool _Rebranded = false;

void Log(std::wstring_view Text)
{
    if (_Log)
        _Log->Log(Text);
}

int PidFromText(std::wstring_view Text)
{
    int base = 10;
    bool negative = false;
    std::size_t i = 0;
    if (i < Text.size() && (Text[i] == L'-' || Text[i] == L'+'))
        negative = Text[i++] == L'-';
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
    if (i == Text.size())
        return 0;

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
            return 0;
        value = value * base + digit;
        if (value > 0x80000000LL)
            return 0;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX || value < INT_MIN)
        return 0;
    return static_cast<int>(value);
}
