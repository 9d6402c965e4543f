#include "BridgeNames.h"

#include "base/WinHandle.h"
#include "startup/UN_SystemFolders.h"
#include "startup/UN_TxtFileLog.h"

std::wstring BridgePipeName(DWORD Pid)
{
    return L"\\\\.\\pipe\\uxsvc_" + std::to_wstring(Pid);
}

std::wstring EnsureBridgeLogFolder()
{
    std::wstring root = GetCommonAppDataFolder() + L"QuorvixRemote\\";
    CreateDirectoryW(root.c_str(), nullptr);
    std::wstring logs = root + L"Logs\\";
    CreateDirectoryW(logs.c_str(), nullptr);
    return logs;
}

std::wstring TodaysBridgeLogFile()
{
    SYSTEMTIME today;
    GetLocalTime(&today);
    return TTxtFileLog::LogFileName(EnsureBridgeLogFolder() + L"QX_PIPE_BRIDGE", L".log", true, today);
}

std::string ReadTodaysBridgeLog()
{
    std::string content;
    TUniqueHandle file(CreateFileW(TodaysBridgeLogFile().c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return content;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        content.append(buffer, read);
    return content;
}
