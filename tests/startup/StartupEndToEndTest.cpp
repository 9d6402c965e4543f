// Starts the real uxlink.exe under Wine and checks what start-up writes to the
// day's log and how the process ends.
#include "support/BridgeTestSupport.h"

#include "base/TextConversion.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>

using namespace std::chrono_literals;
using test_support::TChildProcess;

namespace
{

// Asks every top-level window of the process to close, as the shell would at logoff.
void CloseWindowsOf(DWORD pid)
{
    struct TTarget
    {
        DWORD Pid;
    } target{pid};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == reinterpret_cast<TTarget*>(param)->Pid)
                PostMessageW(window, WM_CLOSE, 0, 0);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&target));
}

bool HasLine(const std::vector<std::wstring>& lines, const std::wstring& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

class StartupTest : public ::testing::Test
{
protected:
    void SetUp() override { EnsureBridgeLogFolder(); }
};

TEST_F(StartupTest, LogsCommandLineAndRunsUntilItsWindowIsClosed)
{
    TChildProcess bridge(L"uxlink.exe", L"-name=Demo -version=1.2 -pid=4242 -hellomsg=x -rebranded=1");
    ASSERT_TRUE(test_support::WaitForLogLine(bridge.Pid(), L"[uxlink] TPF_SendUserInfo to 4242 4242"));

    std::vector<std::wstring> lines = test_support::LogLinesOf(bridge.Pid());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind(L" cmdln: ", 0), 0u) << WideToUtf8(lines.front());
    EXPECT_NE(lines.front().find(L"-name=Demo -version=1.2 -pid=4242 -hellomsg=x -rebranded=1"), std::wstring::npos);
    EXPECT_TRUE(HasLine(lines, L"[uxlink] TPF_SendUserInfo to 4242 4242"));

    // The file starts with the byte-order mark and each line with "<pid> - hh:nn.ss.zzz - ".
    std::ifstream in(TodaysBridgeLogFile().c_str(), std::ios::binary);
    std::string content(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(content.rfind("\xEF\xBB\xBF<", 0), 0u);

    DWORD exitCode = 99;
    EXPECT_FALSE(bridge.WaitForExit(500ms, exitCode)) << "the bridge must wait in its message loop";
    CloseWindowsOf(bridge.Pid());
    ASSERT_TRUE(bridge.WaitForExit(15s, exitCode));
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(StartupTest, PidThatIsNoNumberIsAnnouncedAsZero)
{
    TChildProcess bridge(L"uxlink.exe", L"-name=Demo -pid=abc");
    EXPECT_TRUE(test_support::WaitForLogLine(bridge.Pid(), L"[uxlink] TPF_SendUserInfo to abc 0"));
}

} // namespace
