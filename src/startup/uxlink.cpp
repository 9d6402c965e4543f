#include "startup/uxlink.h"

#include "base/WinHandle.h"
#include "master/UN_TPFunction.h"
#include "startup/GF_SupportFunctions.h"
#include "startup/UN_GlobalVars.h"
#include "startup/UN_SystemFolders.h"
#include "tray/UN_MAINFORM.h"

#include <windows.h>
#include <objbase.h>

#include <vector>

namespace
{

std::vector<std::wstring_view> Split(std::wstring_view text, wchar_t separator)
{
    std::vector<std::wstring_view> parts;
    std::size_t start = 0;
    for (;;)
    {
        std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start));
        if (end == std::wstring_view::npos)
            return parts;
        start = end + 1;
    }
}

int RunMessageLoop()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

} // namespace

std::wstring GetSwitchValue(std::wstring_view CommandLine, std::wstring_view Name, std::wstring_view Default,
                            wchar_t SwitchChar, wchar_t Separator, wchar_t QuoteChar)
{
    for (std::wstring_view segment : Split(CommandLine, SwitchChar))
    {
        std::vector<std::wstring_view> parts = Split(segment, Separator);
        // A segment without a separator has no value to give, so it does not match.
        if (parts.size() < 2 || parts[0] != Name)
            continue;
        wchar_t quote[] = {QuoteChar, L'\0'};
        return TrimControlAndBlanks(StripChars(parts[1], MakeCharSet(quote)));
    }
    return std::wstring(Default);
}

std::wstring GetSwitchValue(std::wstring_view Name, std::wstring_view Default,
                            wchar_t SwitchChar, wchar_t Separator, wchar_t QuoteChar)
{
    return GetSwitchValue(GetCommandLineW(), Name, Default, SwitchChar, Separator, QuoteChar);
}

void ReadSettingsFromCommandLine()
{
    _AppName = GetSwitchValue(L"name", L"");
    _AppVersion = GetSwitchValue(L"version", L"");
    _MasterPidText = GetSwitchValue(L"pid", L"");
    _MasterPid = IntegerFromText(_MasterPidText);
    _HelloMsg = GetSwitchValue(L"hellomsg", L"");
    _Rebranded = GetSwitchValue(L"rebranded", L"0") == L"1";
}

int RunBridge()
{
    // The common folder ends with a backslash, so the path holds a doubled one,
    // which the file system reads as a single separator.
    std::wstring logPath = GetCommonAppDataFolder() + L"\\QuorvixRemote\\Logs\\" + L"QX_PIPE_BRIDGE";
    _Log = std::make_unique<TTxtFileLog>(logPath, L".log", true);
    _Log->SetPrefix(std::to_wstring(GetOwnProcessId()));
    Log(std::wstring(L" cmdln: ") + GetCommandLineW());

    ReadSettingsFromCommandLine();
    Log(L"[uxlink] TPF_SendUserInfo to " + _MasterPidText + L" " + std::to_wstring(_MasterPid));
    TPF_SendUserInfo(_MasterPid); // runs on its own threads; start-up does not wait for it

    int exitCode = 0;
    {
        TComThreadInit com(COINIT_APARTMENTTHREADED);
        TFmain mainForm;
        exitCode = RunMessageLoop();
    }

    // The other threads (request server, master-pipe sends) end with the process;
    // only the log is given a moment to write what is still queued.
    _Log->Drain(2000);
    return exitCode;
}
