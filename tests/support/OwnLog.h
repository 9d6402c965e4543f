// A test program that uses these logs like the bridge: to today's log file, each line stamped with
// this process's id, so that a test can look for the lines the code under test wrote.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace test_support
{

bool WaitForOwnLogLine(const std::wstring& ANeedle, std::chrono::milliseconds ATimeout = std::chrono::seconds(10));

// Count of this process's lines from the AFirst-th on that hold ANeedle, once
// what was logged so far is written.
int CountOwnLogLines(const std::wstring& ANeedle, std::size_t AFirst = 0);

// This process's lines so far (once what was logged is written); a test keeps the
// count before it acts and reads what came after with OwnLogLinesFrom.
std::size_t OwnLogLineCount();
std::vector<std::wstring> OwnLogLinesFrom(std::size_t AFirst);

} // namespace test_support
