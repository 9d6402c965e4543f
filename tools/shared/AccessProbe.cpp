#include "AccessProbe.h"

#include "base/WinError.h"

namespace
{

TUniqueHandle ProcessToken()
{
    HANDLE token = nullptr;
    Check(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &token), "OpenProcessToken");
    return TUniqueHandle(token);
}

TUniqueHandle WithoutAdministrators(HANDLE Token)
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    Check(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size), "CreateWellKnownSid");
    SID_AND_ATTRIBUTES denyOnly{administrators, 0};
    HANDLE restricted = nullptr;
    Check(CreateRestrictedToken(Token, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted),
          "CreateRestrictedToken");
    return TUniqueHandle(restricted);
}

} // namespace

TUniqueHandle StandInToken(TStandIn Kind)
{
    TUniqueHandle token = ProcessToken();
    if (Kind == TStandIn::PlainUser)
        token = WithoutAdministrators(token.Get());
    HANDLE impersonation = nullptr;
    Check(DuplicateToken(token.Get(), SecurityImpersonation, &impersonation), "DuplicateToken");
    return TUniqueHandle(impersonation);
}

bool IsGrantedFileAccess(HANDLE Token, PSECURITY_DESCRIPTOR Descriptor, DWORD Desired)
{
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    // AccessCheck takes no generic rights.
    MapGenericMask(&Desired, &mapping);
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof(privileges);
    DWORD granted = 0;
    BOOL status = FALSE;
    Check(AccessCheck(Descriptor, Token, Desired, &mapping, &privileges, &privilegesSize, &granted, &status),
          "AccessCheck");
    return status != FALSE;
}
