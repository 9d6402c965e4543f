#include "base/SecurityDescriptor.h"

#include "base/WinError.h"

#include <sddl.h>

#include <utility>

TUniqueLocal<void> SecurityDescriptorFromSddl(const std::wstring& Sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    Check(ConvertStringSecurityDescriptorToSecurityDescriptorW(Sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr),
          "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    return TUniqueLocal<void>(descriptor);
}

TSecurityAttributes::TSecurityAttributes(TUniqueLocal<void> Descriptor) noexcept : FDescriptor(std::move(Descriptor))
{
    FAttributes.nLength = sizeof(FAttributes);
    FAttributes.lpSecurityDescriptor = FDescriptor.get();
    FAttributes.bInheritHandle = FALSE;
}
