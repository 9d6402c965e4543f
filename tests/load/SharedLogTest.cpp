// Eight bridges on one machine, as a terminal server runs one per session, all
// logging into the same day's file at once through their real pipes. The file is
// made anew by the eight at their start, so that they create it together.
//
// Wine runs every process as one user, so the day's file made by another user's
// bridge is shown by the descriptor's test in tests/startup, not here.
#include "LoadFixture.h"

#include "base/TextConversion.h"

#include <cctype>
#include <memory>

using namespace std::chrono_literals;

namespace load
{
namespace
{

constexpr int Bridges = 8;
constexpr int RequestsPerBridge = 60;

std::wstring Marker(int bridge, int request)
{
    return L"SHAREDLOG_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(bridge) + L"_" +
           std::to_wstring(request) + L"_";
}

// "<pid> - hh:nn.ss.zzz - ": what a line that no other write cut into starts with.
bool IsWholeLine(const std::string& line)
{
    std::size_t close = line.find("> - ");
    if (line.empty() || line[0] != '<' || close == std::string::npos || close < 2)
        return false;
    for (std::size_t i = 1; i < close; ++i)
        if (!std::isdigit(static_cast<unsigned char>(line[i])))
            return false;
    const std::string stamp = line.substr(close + 4, 15);
    const char shape[] = "dd.dd.dd.ddd - ";
    if (stamp.size() != 15)
        return false;
    for (std::size_t i = 0; i < stamp.size(); ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(stamp[i]))
                            : i != 2 && stamp[i] != shape[i])
            return false;
    return true;
}

std::vector<std::string> SplitLines(const std::string& content)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < content.size();)
    {
        std::size_t end = content.find("\r\n", start);
        if (end == std::string::npos)
        {
            lines.push_back(content.substr(start)); // an unended last line: a torn write
            break;
        }
        lines.push_back(content.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

class SharedLogTest : public BridgeFixture
{
};

TEST_F(SharedLogTest, EightBridgesLogIntoOneDaysFileWithoutLosingOrTearingALine)
{
    // This process's own log may be writing a burst: try until the file is gone.
    ASSERT_TRUE(test_support::Eventually([] {
        return DeleteFileW(TodaysBridgeLogFile().c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
    }));

    std::vector<std::unique_ptr<test_support::TChildProcess>> bridges;
    std::vector<std::unique_ptr<TWatchdog>> watchdogs;
    for (int b = 0; b < Bridges; ++b)
    {
        bridges.push_back(std::make_unique<test_support::TChildProcess>(L"uxlink.exe", DefaultArguments()));
        watchdogs.push_back(std::make_unique<TWatchdog>(*bridges.back(), 120s));
    }

    {
        std::vector<std::jthread> clients;
        for (int b = 0; b < Bridges; ++b)
            clients.emplace_back([&, b] {
                std::wstring pipe = BridgePipeName(bridges[b]->Pid());
                for (int r = 0; r < RequestsPerBridge; ++r)
                    EXPECT_FALSE(Ask(pipe, Request(Marker(b, r)))) << "an unknown command was answered";
            });
    }
    for (int b = 0; b < Bridges; ++b)
        ASSERT_TRUE(test_support::WaitForLogLine(bridges[b]->Pid(), Marker(b, RequestsPerBridge - 1), 60s))
            << "bridge " << b;

    std::string content = ReadTodaysBridgeLog();
    ASSERT_EQ(content.rfind("\xEF\xBB\xBF", 0), 0u);
    EXPECT_EQ(content.find("\xEF\xBB\xBF", 3), std::string::npos) << "a second byte-order mark";
    // "SHAREDLOG_<test pid>_<bridge>_" and "<bridge pid> - " of each bridge.
    std::vector<std::string> markers;
    std::vector<std::string> prefixes;
    for (int b = 0; b < Bridges; ++b)
    {
        std::wstring marker = Marker(b, 0);
        markers.push_back(WideToUtf8(marker.substr(0, marker.size() - 2)));
        prefixes.push_back(WideToUtf8(L"<" + std::to_wstring(bridges[b]->Pid()) + L"> - "));
    }
    std::vector<std::vector<int>> seen(Bridges);
    for (const std::string& line : SplitLines(content.substr(3)))
    {
        EXPECT_TRUE(IsWholeLine(line)) << line;
        for (int b = 0; b < Bridges; ++b)
        {
            std::size_t at = line.find(markers[b]);
            if (at == std::string::npos)
                continue;
            EXPECT_EQ(line.rfind(prefixes[b], 0), 0u) << line;
            seen[b].push_back(std::stoi(line.substr(at + markers[b].size())));
        }
    }
    // Every request's line once, in the order in which its bridge logged them.
    std::vector<int> all(RequestsPerBridge);
    for (int r = 0; r < RequestsPerBridge; ++r)
        all[r] = r;
    for (int b = 0; b < Bridges; ++b)
        EXPECT_EQ(seen[b], all) << "bridge " << b;
    for (const auto& watchdog : watchdogs)
        EXPECT_FALSE(watchdog->Fired());
}

} // namespace
} // namespace load
