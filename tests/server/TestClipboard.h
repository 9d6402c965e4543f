// Puts data on the clipboard the way another program would, from a hidden window
// of the test's own that owns the clipboard while its data is there.
#pragma once

#include "startup/WinHandle.h"

#include <windows.h>

#include <string>
#include <vector>

namespace server_test
{

class TTestClipboard
{
public:
    TTestClipboard();

    // A file list (CF_HDROP) with these full paths; none is an empty list.
    void PutFiles(const std::vector<std::wstring>& APaths);
    void PutText(const std::wstring& AText);

private:
    void Put(UINT AFormat, HGLOBAL AData);

    TUniqueWindow FOwner;
};

} // namespace server_test
