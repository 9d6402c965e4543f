// Puts data on the clipboard the way another program would, from a hidden window
// of the test's own that owns the clipboard while its data is there; and builds
// the file lists (CF_HDROP) that the clipboard and the shell's selections carry.
#pragma once

#include "base/WinHandle.h"

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace test_support
{

struct TGlobalFreeDeleter { void operator()(HGLOBAL memory) const noexcept { GlobalFree(memory); } };
using TUniqueGlobal = std::unique_ptr<std::remove_pointer_t<HGLOBAL>, TGlobalFreeDeleter>;

// A CF_HDROP block of these full paths, in moveable memory as the clipboard and
// storage media take it.
TUniqueGlobal MakeDropFiles(const std::vector<std::wstring>& APaths);

class TTestClipboard
{
public:
    TTestClipboard();

    // The window that opens the clipboard for this test.
    [[nodiscard]] HWND Owner() const noexcept { return FOwner.get(); }

    // A file list (CF_HDROP) with these full paths; none is an empty list.
    void PutFiles(const std::vector<std::wstring>& APaths);
    void PutText(const std::wstring& AText);

private:
    void Put(UINT AFormat, HGLOBAL AData);

    TUniqueWindow FOwner;
};

} // namespace test_support
