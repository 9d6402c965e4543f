#include "startup/GF_SupportFunctions.h"
#include "startup/UN_SystemFolders.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

namespace
{

std::wstring LowerCase(std::wstring text)
{
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

TEST(SpecialFolders, EndWithOneBackslash)
{
    EXPECT_EQ(GetCommonAppDataFolder(), L"C:\\ProgramData\\");
    for (const std::wstring& folder : {GetDesktopFolder(), GetLocalAppDataFolder(), GetTempFolder()})
    {
        ASSERT_GE(folder.size(), 4u);
        EXPECT_EQ(folder.back(), L'\\');
        EXPECT_NE(folder[folder.size() - 2], L'\\');
    }
}

TEST(SpecialFolders, UnknownFolderGivesEmptyText)
{
    EXPECT_EQ(GetSpecialFolder(0x7F), L"");
}

TEST(LongPaths, ShortNameComponentsComeBackLong)
{
    std::wstring temp = GetTempFolder();
    std::wstring longDir = temp + L"uxlink long folder name " + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(longDir.c_str(), nullptr));

    wchar_t shortPath[MAX_PATH] = {};
    DWORD length = GetShortPathNameW(longDir.c_str(), shortPath, MAX_PATH);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(LowerCase(ExpandLongPath(shortPath)), LowerCase(longDir));
    // The stored letter case comes back, whatever case the caller wrote after the drive.
    EXPECT_EQ(ExpandLongPath(longDir.substr(0, 3) + LowerCase(longDir.substr(3))), longDir);
    RemoveDirectoryW(longDir.c_str());
}

TEST(LongPaths, MissingTailIsKeptAsGiven)
{
    std::wstring temp = GetTempFolder();
    EXPECT_EQ(ExpandLongPath(temp + L"No Such~1\\Deeper\\"), temp + L"No Such~1\\Deeper\\");
    EXPECT_EQ(ExpandLongPath(L"C:\\"), L"C:\\");
}

TEST(UserIdentity, NameAndProcessId)
{
    EXPECT_FALSE(GetLoggedUserName().empty());
    EXPECT_EQ(GetOwnProcessId(), static_cast<int>(GetCurrentProcessId()));
}

} // namespace
