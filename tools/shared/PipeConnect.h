// The client end of a pipe, as the service side opens the bridge's pipe.
#pragma once

#include "startup/WinHandle.h"

#include <chrono>
#include <string>

// Opens PipeName for blocking reads and writes, waiting for a free instance until
// Timeout; empty when the server never offered one.
TUniqueHandle ConnectToPipe(const std::wstring& PipeName, std::chrono::milliseconds Timeout);
