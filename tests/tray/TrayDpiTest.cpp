// The tray pictures at other scales. Wine's DPI never changes while a process
// runs: it reads the prefix's LogPixels when the process starts. So each DPI runs
// in a child, this test program itself started after LogPixels was set, where the
// main form is made with the shell replaced by a recorder. The pictures follow
// the tray's DPI, and the desktop's tray was started at 96 DPI, so the child runs
// on a desktop of its own, whose tray Wine starts at the child's first window.
#include "TrayTestSupport.h"

#include "SiblingProcess.h"
#include "tray/UN_MAINFORM.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace
{

// Set for the child: the tray size in pixels it must find.
constexpr wchar_t ExpectedSizeVariable[] = L"UXLINK_TEST_TRAY_SIZE";

struct TKeyDeleter { void operator()(HKEY key) const noexcept { RegCloseKey(key); } };
using TUniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, TKeyDeleter>;

// The prefix's system DPI for the processes started while this lives; the value
// before is put back after, so that later test programs run at their usual DPI.
class TLogPixels
{
public:
    explicit TLogPixels(DWORD Dpi)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS)
            return;
        FKey.reset(key);
        DWORD size = sizeof(FBefore);
        FHadValue = RegQueryValueExW(key, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&FBefore),
                                     &size) == ERROR_SUCCESS;
        FSet = Write(Dpi);
    }
    TLogPixels(const TLogPixels&) = delete;
    TLogPixels& operator=(const TLogPixels&) = delete;
    ~TLogPixels()
    {
        if (!FKey)
            return;
        if (FHadValue)
            Write(FBefore);
        else
            RegDeleteValueW(FKey.get(), L"LogPixels");
    }

    [[nodiscard]] bool Set() const noexcept { return FSet; }

private:
    bool Write(DWORD Dpi)
    {
        return RegSetValueExW(FKey.get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&Dpi),
                              sizeof(Dpi)) == ERROR_SUCCESS;
    }

    TUniqueKey FKey;
    DWORD FBefore = 0;
    bool FHadValue = false;
    bool FSet = false;
};

// The side of a square icon's picture, or 0 when it cannot be read.
int SideOf(HICON Icon)
{
    return static_cast<int>(std::lround(std::sqrt(static_cast<double>(tray_test::PixelsOf(Icon).size()))));
}

// Runs in the child only, at the DPI its parent set.
TEST(TrayPicturesAtTheSystemDpi, ImageListAndTheShellsPictureHaveTheTraySize)
{
    wchar_t expectedText[16] = L"";
    if (GetEnvironmentVariableW(ExpectedSizeVariable, expectedText, static_cast<DWORD>(std::size(expectedText))) == 0)
        GTEST_SKIP() << "runs in the child that TrayDpi.PicturesAreMadeForTheSystemDpi starts";
    const int expected = std::stoi(expectedText);

    std::vector<int> handedOver;
    TFmain form([&handedOver](DWORD message, const NOTIFYICONDATAW& data) {
        if (message == NIM_ADD || message == NIM_MODIFY)
            handedOver.push_back(SideOf(data.hIcon));
        return TRUE;
    });
    int width = 0;
    int height = 0;
    ImageList_GetIconSize(form.imgListTrayIcons.get(), &width, &height);
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    EXPECT_EQ(width, expected) << "system DPI " << GetDpiForSystem() << ", tray " << tray << " at "
                               << (tray != nullptr ? GetDpiForWindow(tray) : 0) << " DPI";
    EXPECT_EQ(height, expected);
    ASSERT_FALSE(handedOver.empty());
    for (int side : handedOver)
        EXPECT_EQ(side, expected);
}

TEST(TrayDpi, PicturesAreMadeForTheSystemDpi)
{
    struct TCase
    {
        DWORD Dpi;
        int Size;
    };
    const TCase cases[] = {{96, 16}, {120, 20}, {144, 24}, {192, 32}};
    for (const TCase& row : cases)
    {
        SCOPED_TRACE(testing::Message() << row.Dpi << " DPI");
        TLogPixels pixels(row.Dpi);
        ASSERT_TRUE(pixels.Set());
        ASSERT_TRUE(SetEnvironmentVariableW(ExpectedSizeVariable, std::to_wstring(row.Size).c_str()));
        TSiblingProcess child(L"test_tray.exe", L"--gtest_filter=TrayPicturesAtTheSystemDpi.*",
                              L"uxlink_dpi" + std::to_wstring(row.Dpi));
        SetEnvironmentVariableW(ExpectedSizeVariable, nullptr);
        DWORD exitCode = 99;
        ASSERT_TRUE(child.WaitForExit(60s, exitCode));
        EXPECT_EQ(exitCode, 0u) << "the child found other sizes";
    }
}

} // namespace
