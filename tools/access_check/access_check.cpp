// access_check: what a security descriptor grants a member of Authenticated Users who is
// no administrator, as Windows' own AccessCheck answers. Wine keeps no descriptor on files
// and folders, so the package test asks this of the descriptor the package applies.
//
//   access_check.exe <SDDL with owner and group> <access mask> [<access mask> ...]
//
// Prints "granted" or "denied" on one line per mask, in the order given; file rights
// (FILE_GENERIC_READ and the like) are mapped as for files and folders.
// Exit codes: 0 answered; 1 wrong arguments; 5 a call failed.
#include "AccessProbe.h"
#include "CommandLine.h"

#include "base/SecurityDescriptor.h"

#include <windows.h>

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
    const TUniqueLocal<void> descriptor = SecurityDescriptorFromSddl(ASddl);
    const TUniqueHandle token = StandInToken(TStandIn::PlainUser);
    for (DWORD mask : AMasks)
        std::printf("%s\n", IsGrantedFileAccess(token.Get(), descriptor.get(), mask) ? "granted" : "denied");
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
