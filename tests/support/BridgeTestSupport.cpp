#include "support/BridgeTestSupport.h"

#include "base/TextConversion.h"

#include <algorithm>
#include <cwchar>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace test_support
{

namespace
{

// "hhnnsszzz" of a line's stamp "hh:nn.ss.zzz" (the first separator is the
// regional one), so that stamps of one day compare as text.
std::wstring StampKey(std::wstring_view stamp)
{
    std::wstring key;
    for (wchar_t c : stamp)
        if (c >= L'0' && c <= L'9')
            key.push_back(c);
    return key;
}

std::wstring NowKey()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t key[16];
    std::swprintf(key, 16, L"%02u%02u%02u%03u", unsigned(now.wHour), unsigned(now.wMinute), unsigned(now.wSecond),
                  unsigned(now.wMilliseconds));
    return key;
}

// When each child process was started, by pid: the first stamp its lines can carry.
class TStartTimes
{
public:
    void Set(DWORD pid, std::wstring key)
    {
        std::lock_guard lock(FMutex);
        FKeys[pid] = std::move(key);
    }
    std::wstring Get(DWORD pid) const
    {
        std::lock_guard lock(FMutex);
        auto found = FKeys.find(pid);
        return found == FKeys.end() ? std::wstring() : found->second;
    }

private:
    mutable std::mutex FMutex;
    std::map<DWORD, std::wstring> FKeys;
};

TStartTimes& StartTimes()
{
    static TStartTimes times;
    return times;
}

} // namespace

TChildProcess::TChildProcess(const std::wstring& Program, const std::wstring& Arguments)
    : TChildProcess(NowKey(), Program, Arguments)
{
}

// The start is read before the process is created, so no line of it can be older.
TChildProcess::TChildProcess(std::wstring StartKey, const std::wstring& Program, const std::wstring& Arguments)
    : TSiblingProcess(Program, Arguments)
{
    StartTimes().Set(Pid(), std::move(StartKey));
}

std::vector<std::wstring> LogLinesOf(DWORD Pid)
{
    std::vector<std::wstring> lines;
    std::string content = ReadTodaysBridgeLog();

    std::wstring prefix = L"<" + std::to_wstring(Pid) + L"> - ";
    std::wstring startKey = StartTimes().Get(Pid);
    std::wstring text = Utf8ToWide(content);
    std::size_t start = 0;
    while (start < text.size())
    {
        std::size_t end = text.find(L"\r\n", start);
        std::wstring line = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!line.empty() && line[0] == 0xFEFF)
            line.erase(0, 1);
        // "<pid> - hh:nn.ss.zzz - text": the stamp is 12 characters.
        if (line.rfind(prefix, 0) == 0 && line.size() >= prefix.size() + 15 &&
            StampKey(std::wstring_view(line).substr(prefix.size(), 12)) >= startKey)
            lines.push_back(line.substr(prefix.size() + 15));
        if (end == std::wstring::npos)
            break;
        start = end + 2;
    }
    return lines;
}

bool Eventually(const std::function<bool()>& Done, std::chrono::milliseconds Timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
    while (!Done())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

bool WaitForLogLine(DWORD Pid, const std::wstring& Needle, std::chrono::milliseconds Timeout)
{
    return Eventually(
        [&] {
            std::vector<std::wstring> lines = LogLinesOf(Pid);
            return std::any_of(lines.begin(), lines.end(),
                               [&](const std::wstring& line) { return line.find(Needle) != std::wstring::npos; });
        },
        Timeout);
}

TToolResult RunServiceClient(const std::wstring& Arguments)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return {};
    TUniqueHandle output(readEnd);
    TUniqueHandle childOutput(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::wstring path = OwnFolder() + L"service_client.exe";
    std::wstring commandLine = L"\"" + path + L"\" " + Arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info))
        return {};
    TUniqueHandle process(info.hProcess);
    TUniqueHandle thread(info.hThread);
    // Only the child holds the write end now, so the read below ends when it exits.
    childOutput.Reset();

    TToolResult result;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(output.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        result.Output.append(buffer, read);
    if (WaitForSingleObject(process.Get(), 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.Get(), &result.ExitCode);
    return result;
}

TTPPipeMessage AnswerOf(const TToolResult& Result)
{
    std::string text = Result.Output;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return TTPPipeMessage(Utf8ToWide(text));
}

HWND TopWindowOf(DWORD Pid, const wchar_t* ClassName)
{
    struct TSearch
    {
        DWORD Pid;
        const wchar_t* ClassName;
        HWND Found = nullptr;
    } search{Pid, ClassName};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* wanted = reinterpret_cast<TSearch*>(param);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid != wanted->Pid)
                return TRUE;
            wchar_t className[64] = {};
            GetClassNameW(window, className, 64);
            if (wanted->ClassName != nullptr && std::wstring(className) != wanted->ClassName)
                return TRUE;
            wanted->Found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

} // namespace test_support
