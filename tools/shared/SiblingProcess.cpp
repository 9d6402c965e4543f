#include "SiblingProcess.h"

#include "base/WinError.h"

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

TSiblingProcess::TSiblingProcess(const std::wstring& Program, const std::wstring& Arguments, std::wstring Desktop)
{
    std::wstring path = OwnFolder() + Program;
    std::wstring commandLine = L"\"" + path + L"\" " + Arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!Desktop.empty())
        startup.lpDesktop = Desktop.data();
    PROCESS_INFORMATION info{};
    Check(CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &info),
          "CreateProcessW");
    TUniqueHandle thread(info.hThread);
    FProcess.Reset(info.hProcess);
    FPid = info.dwProcessId;
}

TSiblingProcess::~TSiblingProcess()
{
    Kill();
}

bool TSiblingProcess::Running() const noexcept
{
    return FProcess && WaitForSingleObject(FProcess.Get(), 0) == WAIT_TIMEOUT;
}

bool TSiblingProcess::WaitForExit(std::chrono::milliseconds Timeout, DWORD& ExitCode)
{
    if (!FProcess || WaitForSingleObject(FProcess.Get(), static_cast<DWORD>(Timeout.count())) != WAIT_OBJECT_0)
        return false;
    GetExitCodeProcess(FProcess.Get(), &ExitCode);
    return true;
}

void TSiblingProcess::Kill()
{
    if (Running())
    {
        TerminateProcess(FProcess.Get(), 1);
        WaitForSingleObject(FProcess.Get(), 5000);
    }
}
