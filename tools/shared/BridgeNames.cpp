#include "BridgeNames.h"

#include "startup/UN_SystemFolders.h"

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
