// Pipe I/O of the benchmark, written apart from the bridge's server so that the
// baselines measure the platform and not the bridge's code: only the frame codec
// and the 4096-byte chunk size are shared with it.
#pragma once

#include "base/WinHandle.h"
#include "PipeConnect.h"

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

namespace bench
{

constexpr DWORD ChunkSize = 4096;

// One framed text: the 4-byte length in one write, then the payload in chunks.
bool WriteFrame(HANDLE Pipe, const std::string& Payload);

// One framed text read in chunks; nothing when the pipe ends first.
std::optional<std::string> ReadFrame(HANDLE Pipe);

// One request and its answer: connect, write the frame, read the answer until the
// server closes. Answer is empty when the server closed without answering.
struct TExchange
{
    bool Completed = false;
    std::string Answer;
};
TExchange Exchange(const std::wstring& PipeName, const std::string& RequestPayload);

} // namespace bench
