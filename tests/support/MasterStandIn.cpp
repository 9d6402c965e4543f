#include "support/MasterStandIn.h"

#include "base/TextConversion.h"
#include "base/WinHandle.h"
#include "startup/UN_SystemFolders.h"

#include <atomic>
#include <stdexcept>

namespace test_support
{

namespace
{

std::wstring UniqueTempFile()
{
    static std::atomic<int> counter = 0;
    return GetTempFolder() + L"standin_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(++counter) + L".txt";
}

} // namespace

TStandIn::TStandIn(const std::wstring& Options, const std::wstring& ServedPid)
    : FOutFile(UniqueTempFile()),
      FProcess(L"master_standin.exe",
               Options + (ServedPid.empty() ? L"" : L" -pid=" + ServedPid) + L" \"-out=" + FOutFile + L"\""),
      FServedPid(ServedPid.empty() ? std::to_wstring(FProcess.Pid()) : ServedPid)
{
    if (!WaitForPipe(L"\\\\.\\pipe\\clientremotepipe" + FServedPid))
        throw std::runtime_error("the stand-in does not serve its pipe");
}

TStandIn::~TStandIn()
{
    FProcess.Kill();
    DeleteFileW(FOutFile.c_str());
}

bool TStandIn::Exited()
{
    DWORD code = 0;
    return FProcess.WaitForExit(std::chrono::seconds(15), code) && code == 0;
}

std::string TStandIn::RecordText() const
{
    TUniqueHandle file(CreateFileW(FOutFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        content.append(buffer, read);
    return content;
}

std::vector<TTPPipeMessage> TStandIn::Envelopes() const
{
    std::vector<TTPPipeMessage> envelopes;
    std::string content = RecordText();
    for (std::size_t start = 0, end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2)
        envelopes.emplace_back(std::wstring_view(Utf8ToWide(content.substr(start, end - start))));
    return envelopes;
}

} // namespace test_support
