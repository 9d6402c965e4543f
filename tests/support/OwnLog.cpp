#include "support/OwnLog.h"

#include "startup/UN_GlobalVars.h"
#include "support/BridgeTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace test_support
{

namespace
{

class TLogEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        _Log = std::make_unique<TTxtFileLog>(EnsureBridgeLogFolder() + L"QX_PIPE_BRIDGE", L".log", true);
        _Log->SetPrefix(std::to_wstring(GetCurrentProcessId()));
    }
    void TearDown() override { _Log->Drain(5000); }
};

[[maybe_unused]] ::testing::Environment* const LogEnvironment =
    ::testing::AddGlobalTestEnvironment(new TLogEnvironment);

} // namespace

bool WaitForOwnLogLine(const std::wstring& ANeedle, std::chrono::milliseconds ATimeout)
{
    return WaitForLogLine(GetCurrentProcessId(), ANeedle, ATimeout);
}

std::vector<std::wstring> OwnLogLinesFrom(std::size_t AFirst)
{
    _Log->Drain(5000);
    std::vector<std::wstring> lines = LogLinesOf(GetCurrentProcessId());
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(AFirst, lines.size())));
    return lines;
}

std::size_t OwnLogLineCount()
{
    return OwnLogLinesFrom(0).size();
}

int CountOwnLogLines(const std::wstring& ANeedle, std::size_t AFirst)
{
    int count = 0;
    for (const std::wstring& line : OwnLogLinesFrom(AFirst))
        count += line.find(ANeedle) != std::wstring::npos ? 1 : 0;
    return count;
}

} // namespace test_support
