// What Windows' AccessCheck grants on a security descriptor, for the principals that
// Wine cannot run as: every process there is one user, an administrator, so the
// answer for LocalSystem, another session's user or a plain user is asked of the
// descriptor itself, with this process's token standing in.
#pragma once

#include "base/WinHandle.h"

#include <windows.h>

enum class TStandIn
{
    // This process's user as it is: a member of the Administrators under Wine.
    AsIs,
    // The same user with the Administrators for deny only: what any logged-on user
    // holds (Everyone, Users, Authenticated Users, the user itself).
    PlainUser,
};

// An impersonation token of this process's user, as AccessCheck takes it.
TUniqueHandle StandInToken(TStandIn Kind);

// Whether Token is granted all of Desired on Descriptor; generic rights are mapped as
// for files, folders and pipes. Raises EWin32Error when the check itself fails.
bool IsGrantedFileAccess(HANDLE Token, PSECURITY_DESCRIPTOR Descriptor, DWORD Desired);
