// Turns failed Win32 and COM calls into exceptions that carry the API's name,
// so that a log line reads "CreateNamedPipeW: Pipe busy".
#pragma once

#include <windows.h>

#include <system_error>

class EWin32Error : public std::system_error
{
public:
    using std::system_error::system_error;
};

// Call straight after the failing API, before any destructor or log call can
// overwrite the thread's last error.
[[noreturn]] inline void ThrowLastError(const char* api)
{
    throw EWin32Error(static_cast<int>(GetLastError()), std::system_category(), api);
}

[[noreturn]] inline void ThrowWin32Error(DWORD error, const char* api)
{
    throw EWin32Error(static_cast<int>(error), std::system_category(), api);
}

inline void Check(BOOL ok, const char* api)
{
    if (!ok)
        ThrowLastError(api);
}

[[noreturn]] inline void ThrowHr(HRESULT hr, const char* api)
{
    throw EWin32Error(static_cast<int>(hr), std::system_category(), api);
}

inline void CheckHr(HRESULT hr, const char* api)
{
    if (FAILED(hr))
        ThrowHr(hr, api);
}
