// Security descriptors written as SDDL text, and the SECURITY_ATTRIBUTES that hand
// one to a Create call.
#pragma once

#include "base/WinHandle.h"

#include <windows.h>

#include <string>

// The descriptor that Sddl describes; throws EWin32Error when the text is not valid.
TUniqueLocal<void> SecurityDescriptorFromSddl(const std::wstring& Sddl);

// Owns a descriptor for the Create calls that take it. The handles made with it
// are not inherited, so the programs that the bridge starts get none of them.
class TSecurityAttributes
{
public:
    explicit TSecurityAttributes(TUniqueLocal<void> Descriptor) noexcept;
    TSecurityAttributes(const TSecurityAttributes&) = delete;
    TSecurityAttributes& operator=(const TSecurityAttributes&) = delete;

    [[nodiscard]] SECURITY_ATTRIBUTES* Get() noexcept { return &FAttributes; }

private:
    TUniqueLocal<void> FDescriptor;
    SECURITY_ATTRIBUTES FAttributes{};
};
