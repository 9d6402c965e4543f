// The client end of a pipe, as the service side opens the bridge's pipe.
#pragma once

#include "base/WinHandle.h"

#include <chrono>
#include <string>

// One attempt to open PipeName for GENERIC_READ | GENERIC_WRITE, as the service side does;
// empty (GetLastError says why) when it fails. Flags as for CreateFileW.
TUniqueHandle OpenAsServiceSide(const std::wstring& PipeName, DWORD Flags = 0);

// Opens PipeName for blocking reads and writes, waiting for a free instance until
// Timeout; empty when the server never offered one.
TUniqueHandle ConnectToPipe(const std::wstring& PipeName, std::chrono::milliseconds Timeout);

// Polls until PipeName offers an instance; false after Timeout.
bool WaitForPipe(const std::wstring& PipeName, std::chrono::milliseconds Timeout = std::chrono::seconds(15));
