#include "base/WinHandle.h"
#include "startup/GF_SupportFunctions.h"
#include "startup/UN_SystemFolders.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

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

// The account that owns this process's token, as the security system names it.
std::wstring TokenUserName()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return {};
    TUniqueHandle token(raw);
    alignas(TOKEN_USER) unsigned char buffer[256];
    DWORD size = 0;
    if (!GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &size))
        return {};
    wchar_t name[257] = {};
    wchar_t domain[257] = {};
    DWORD nameSize = 257;
    DWORD domainSize = 257;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name, &nameSize, domain,
                           &domainSize, &use))
        return {};
    return name;
}

// The file name of the program that runs as Pid, from the system's process list.
std::wstring ProgramOfProcess(DWORD Pid)
{
    TUniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry))
        if (entry.th32ProcessID == Pid)
            return entry.szExeFile;
    return {};
}

TEST(UserIdentity, NameIsTheTokensUserAndProcessIdNamesThisProgram)
{
    const std::wstring expected = TokenUserName();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(LowerCase(GetLoggedUserName()), LowerCase(expected));

    wchar_t path[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    const std::wstring program = path;
    const std::wstring fileName = program.substr(program.rfind(L'\\') + 1);
    const int pid = GetOwnProcessId();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(LowerCase(ProgramOfProcess(static_cast<DWORD>(pid))), LowerCase(fileName))
        << "process " << pid << " is not this program";
}

} // namespace
