// The test program logs like the bridge: to today's log file, each line stamped with
// this process's id, so that a test can look for the lines the code under test wrote.
#pragma once

#include <chrono>
#include <string>

namespace server_test
{

bool WaitForOwnLogLine(const std::wstring& ANeedle, std::chrono::milliseconds ATimeout = std::chrono::seconds(10));

// Count of this process's lines holding ANeedle, once what was logged so far is written.
int CountOwnLogLines(const std::wstring& ANeedle);

} // namespace server_test
