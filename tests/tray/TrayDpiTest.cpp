// The tray pictures at other scales. Wine's DPI never changes while a process
// runs: it reads the prefix's LogPixels when the process starts. So each DPI runs
// in a child, this test program itself started after LogPixels was set, where the
// main form is made with the shell replaced by a recorder. The pictures follow
// the tray's DPI, and the desktop's tray was started at 96 DPI, so the child runs
// on a desktop of its own, whose tray Wine starts at the child's first window.
#include "TrayTestSupport.h"

#include "SiblingProcess.h"
#include "support/BridgeTestSupport.h"
#include "tray/UN_MAINFORM.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
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

bool Near(std::uint32_t Left, std::uint32_t Right)
{
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((Left >> shift) & 0xFF) - static_cast<int>((Right >> shift) & 0xFF)) > 8)
            return false;
    return true;
}

// The share of Picture's opaque pixels that the screen's Shown pixels (Width
// wide) hold unchanged at the best place: 1 for the picture drawn as it is, less
// for a picture of another size scaled to it.
double BestMatchIn(const std::vector<std::uint32_t>& Shown, int Width, const std::vector<std::uint32_t>& Picture,
                   int Size)
{
    const int height = Width > 0 ? static_cast<int>(Shown.size()) / Width : 0;
    double best = 0;
    for (int top = 0; top + Size <= height; ++top)
        for (int left = 0; left + Size <= Width; ++left)
        {
            int opaque = 0;
            int matching = 0;
            for (int y = 0; y < Size; ++y)
                for (int x = 0; x < Size; ++x)
                {
                    const std::uint32_t pixel = Picture[static_cast<std::size_t>(y * Size + x)];
                    if ((pixel >> 24) != 0xFF)
                        continue;
                    ++opaque;
                    if (Near(pixel, Shown[static_cast<std::size_t>((top + y) * Width + left + x)]))
                        ++matching;
                }
            if (opaque > 0)
                best = std::max(best, static_cast<double>(matching) / opaque);
        }
    return best;
}

// Runs in the child only, at the DPI its parent set, on the desktop of its own.
class TrayPicturesAtTheSystemDpi : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t text[16] = L"";
        if (GetEnvironmentVariableW(ExpectedSizeVariable, text, static_cast<DWORD>(std::size(text))) == 0)
            GTEST_SKIP() << "runs in the child that TrayDpi.PicturesAreMadeForTheSystemDpi starts";
        Expected = std::stoi(text);
    }

    int Expected = 0;
};

TEST_F(TrayPicturesAtTheSystemDpi, ImageListAndTheShellsPictureHaveTheTraySize)
{
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
    EXPECT_EQ(width, Expected) << "system DPI " << GetDpiForSystem() << ", tray " << tray << " at "
                               << (tray != nullptr ? GetDpiForWindow(tray) : 0) << " DPI";
    EXPECT_EQ(height, Expected);
    ASSERT_FALSE(handedOver.empty());
    for (int side : handedOver)
        EXPECT_EQ(side, Expected);
}

// The real bridge, started here so that it shares this desktop and its tray: the
// tray shows the mark as drawn for its size, not a smaller picture scaled up.
TEST_F(TrayPicturesAtTheSystemDpi, TheBridgesIconIsSharpInTheTray)
{
    test_support::TChildProcess bridge(L"uxlink.exe", L"-name=Quorvix Remote -version=1.2 -pid=0");
    ASSERT_TRUE(test_support::WaitForLogLine(bridge.Pid(), L"[TFmain.FormCreate()] END ", 20s));
    const TUniqueImageList pictures = CreateTrayImageList(Expected);
    const std::vector<std::uint32_t> mark = tray_test::PixelsOf(pictures.get(), 0);
    double match = 0;
    RECT area{};
    test_support::Eventually(
        [&] {
            // Wine's tray in a desktop without task bar, shown while it holds an icon.
            HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
            if (tray == nullptr || !IsWindowVisible(tray) || !GetWindowRect(tray, &area))
                return false;
            const int width = area.right - area.left;
            const std::vector<std::uint32_t> shown = tray_test::ScreenPixels(area);
            if (width <= 0 || shown.size() != static_cast<std::size_t>(width) * (area.bottom - area.top))
                return false;
            match = BestMatchIn(shown, width, mark, Expected);
            return match > 0.95;
        },
        15s);
    EXPECT_GT(match, 0.95) << "tray at " << area.left << "," << area.top << " " << area.right - area.left << "x"
                           << area.bottom - area.top;
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
