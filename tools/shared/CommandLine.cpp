#include "CommandLine.h"

#include "base/WinError.h"
#include "base/WinHandle.h"

#include <windows.h>
#include <shellapi.h>

std::vector<std::wstring> CommandLineArguments()
{
    int count = 0;
    TUniqueLocal<wchar_t*> arguments(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!arguments)
        ThrowLastError("CommandLineToArgvW");
    return std::vector<std::wstring>(arguments.get() + 1, arguments.get() + count);
}
