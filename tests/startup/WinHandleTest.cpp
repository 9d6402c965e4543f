// The handle owners: what each takes as "no handle", and what a close leaves
// behind for the caller.
#include "base/WinHandle.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace
{

bool IsOpen(HANDLE Handle)
{
    DWORD flags = 0;
    return GetHandleInformation(Handle, &flags) != FALSE;
}

TEST(UniqueHandle, ResetClosesTheOldHandleAndKeepsTheCallersLastError)
{
    TUniqueHandle owner(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(owner);
    const HANDLE first = owner.Get();

    // The error of the call that produced the new value (here none: a failed
    // open), read after Reset, as a retry loop does.
    SetLastError(ERROR_PIPE_BUSY);
    owner.Reset(INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY)) << "closing the old handle overwrote it";
    EXPECT_FALSE(owner);
    EXPECT_FALSE(IsOpen(first));
}

TEST(UniqueHandle, InvalidHandleValueAndNullAreBothEmpty)
{
    for (HANDLE none : {HANDLE(nullptr), INVALID_HANDLE_VALUE})
    {
        TUniqueHandle owner(none);
        EXPECT_FALSE(owner);
        EXPECT_EQ(owner.Get(), nullptr);
    }
}

TEST(UniqueFind, AFailedSearchIsEmptyAndAFoundOneSearchesOn)
{
    WIN32_FIND_DATAW found{};
    TUniqueFind none(FindFirstFileW(L"C:\\no such folder\\*", &found));
    EXPECT_FALSE(none) << "INVALID_HANDLE_VALUE must read as no handle";
    EXPECT_TRUE(none.get() == nullptr);

    TUniqueFind find(FindFirstFileW(L"C:\\windows\\*", &found));
    ASSERT_TRUE(find);
    EXPECT_TRUE(FindNextFileW(find.get(), &found));
}

} // namespace
