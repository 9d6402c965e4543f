// access_check: what a security descriptor grants a member of Authenticated Users who is
// no administrator, as Windows' own AccessCheck answers. Wine keeps no descriptor on files
// and folders, so the package test asks this of the descriptor the package applies.
//
//   access_check.exe <SDDL with owner and group> <access mask> [<access mask> ...]
//
// Prints "granted" or "denied" on one line per mask, in the order given; file rights
// (FILE_GENERIC_READ and the like) are mapped as for files and folders.
// Exit codes: 0 answered; 1 wrong arguments; 5 a call failed.
#include "CommandLine.h"

#include "base/WinError.h"
#include "base/WinHandle.h"

#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <string>
#include <vector>

namespace
{

enum TExitCode
{
    ecAnswered = 0,
    ecUsage = 1,
    ecFailed = 5
};

GENERIC_MAPPING FileMapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};

// This process's token with the Administrators for deny only: what is left is what any
// logged-on user holds (Everyone, Users, Authenticated Users, the user itself).
TUniqueHandle NonAdministratorToken()
{
    HANDLE process = nullptr;
    Check(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process), "OpenProcessToken");
    TUniqueHandle processToken(process);

    PSID administrators = nullptr;
    Check(ConvertStringSidToSidW(L"BA", &administrators), "ConvertStringSidToSidW");
    TUniqueLocal<void> administratorsOwner(administrators);
    SID_AND_ATTRIBUTES disabled{administrators, 0};
    HANDLE restricted = nullptr;
    Check(CreateRestrictedToken(processToken.Get(), 0, 1, &disabled, 0, nullptr, 0, nullptr, &restricted),
          "CreateRestrictedToken");
    TUniqueHandle restrictedToken(restricted);

    // AccessCheck takes an impersonation token only.
    HANDLE impersonation = nullptr;
    Check(DuplicateToken(restrictedToken.Get(), SecurityImpersonation, &impersonation), "DuplicateToken");
    return TUniqueHandle(impersonation);
}

bool IsGranted(HANDLE AToken, PSECURITY_DESCRIPTOR ADescriptor, DWORD AMask)
{
    PRIVILEGE_SET privileges{};
    DWORD privilegesLength = sizeof(privileges);
    DWORD granted = 0;
    BOOL accessStatus = FALSE;
    Check(AccessCheck(ADescriptor, AToken, AMask, &FileMapping, &privileges, &privilegesLength, &granted,
                      &accessStatus),
          "AccessCheck");
    return accessStatus != FALSE;
}

bool ParseMasks(const std::vector<std::wstring>& AArguments, std::vector<DWORD>& AMasks)
{
    for (std::size_t i = 1; i < AArguments.size(); ++i)
    {
        wchar_t* end = nullptr;
        unsigned long mask = std::wcstoul(AArguments[i].c_str(), &end, 0);
        if (AArguments[i].empty() || *end != L'\0' || mask == 0 || mask > 0xFFFFFFFFul)
            return false;
        AMasks.push_back(static_cast<DWORD>(mask));
    }
    return !AMasks.empty();
}

int Answer(const std::wstring& ASddl, const std::vector<DWORD>& AMasks)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    Check(ConvertStringSecurityDescriptorToSecurityDescriptorW(ASddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr),
          "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    TUniqueLocal<void> descriptorOwner(descriptor);
    TUniqueHandle token = NonAdministratorToken();
    for (DWORD mask : AMasks)
        std::printf("%s\n", IsGranted(token.Get(), descriptor, mask) ? "granted" : "denied");
    return ecAnswered;
}

} // namespace

int main()
{
    try
    {
        std::vector<std::wstring> arguments = CommandLineArguments();
        std::vector<DWORD> masks;
        if (!ParseMasks(arguments, masks))
        {
            std::fprintf(stderr, "usage: access_check.exe <SDDL with owner and group> <access mask> ...\n");
            return ecUsage;
        }
        return Answer(arguments[0], masks);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "access_check: %s\n", e.what());
        return ecFailed;
    }
}
