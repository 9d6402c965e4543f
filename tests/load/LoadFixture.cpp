#include "LoadFixture.h"

#include "PipeConnect.h"
#include "ProcessFigures.h"

#include "messages/PipeFrame.h"
#include "messages/UPipeMessage.h"
#include "startup/GF_SupportFunctions.h"

#include <atomic>
#include <stdexcept>

namespace load
{

using namespace std::chrono_literals;

std::wstring Request(const std::wstring& Command, const std::vector<std::wstring>& Keys,
                     const std::vector<std::wstring>& Values)
{
    return TTPPipeMessage::MakeMessage(Command, Keys, Values);
}

TUniqueHandle Connect(const std::wstring& PipeName, std::chrono::milliseconds Timeout)
{
    TUniqueHandle pipe = ConnectToPipe(PipeName, Timeout);
    if (!pipe)
        throw std::runtime_error("no instance of the pipe offered");
    return pipe;
}

bool WriteBytes(HANDLE Pipe, const std::string& Bytes)
{
    DWORD written = 0;
    return WriteFile(Pipe, Bytes.data(), static_cast<DWORD>(Bytes.size()), &written, nullptr) &&
           written == Bytes.size();
}

namespace
{

// False when the pipe ended before the first byte; raises when it ended later.
bool ReadExact(HANDLE pipe, char* buffer, DWORD size)
{
    DWORD offset = 0;
    while (offset < size)
    {
        DWORD read = 0;
        if (!ReadFile(pipe, buffer + offset, size - offset, &read, nullptr) || read == 0)
        {
            if (offset == 0)
                return false;
            throw std::runtime_error("answer cut short after " + std::to_string(offset) + " bytes");
        }
        offset += read;
    }
    return true;
}

} // namespace

std::optional<std::wstring> ReadAnswer(HANDLE Pipe)
{
    unsigned char length[PipeFrame::LengthSize];
    if (!ReadExact(Pipe, reinterpret_cast<char*>(length), sizeof(length)))
        return std::nullopt;
    std::uint32_t size = PipeFrame::DecodeLength(length);
    if (size == 0 || size > PipeFrame::MaxPayloadBytes || size % 2 != 0)
        throw std::runtime_error("malformed answer length " + std::to_string(size));
    std::string payload(size, '\0');
    if (!ReadExact(Pipe, payload.data(), size))
        throw std::runtime_error("answer length without payload");
    return PipeFrame::DecodeText(payload);
}

std::optional<std::wstring> Ask(const std::wstring& PipeName, const std::wstring& RequestText)
{
    TUniqueHandle pipe = Connect(PipeName);
    if (!WriteBytes(pipe.Get(), PipeFrame::EncodeFrame(RequestText)))
        throw std::runtime_error("the bridge closed before the request was written");
    return ReadAnswer(pipe.Get());
}

bool IsUserInfoAnswer(const std::optional<std::wstring>& Answer)
{
    if (!Answer)
        return false;
    TTPPipeMessage message(*Answer);
    return message.Name() == L"Result" && message.GetData(L"nome_utente") == GetLoggedUserName() &&
           !message.GetData(L"tempdir_utente").empty() && !message.GetData(L"local_appdata").empty();
}

bool IsOkAnswer(const std::optional<std::wstring>& Answer)
{
    if (!Answer)
        return false;
    TTPPipeMessage message(*Answer);
    return message.Name() == L"Result" && message.GetData(L"Result") == L"OK";
}

TResourceLevel ResourceLevelOf(DWORD Pid)
{
    tool_shared::TProcessFigures figures = tool_shared::ReadProcessFigures(Pid);
    return {static_cast<DWORD>(figures.Handles), static_cast<DWORD>(figures.Threads)};
}

TWatchdog::TWatchdog(test_support::TChildProcess& Bridge, std::chrono::seconds Limit)
    : FThread([this, &Bridge, Limit] {
          std::unique_lock lock(FMutex);
          if (!FDone.wait_for(lock, Limit, [this] { return FFinished; }))
          {
              FFired = true;
              Bridge.Kill();
          }
      })
{
}

TWatchdog::~TWatchdog()
{
    {
        std::lock_guard lock(FMutex);
        FFinished = true;
    }
    FDone.notify_one();
    FThread.join();
}

void BridgeFixture::SetUp()
{
    EnsureBridgeLogFolder();
}

void BridgeFixture::StartBridge(const std::wstring& Arguments)
{
    FBridge.emplace(L"uxlink.exe", Arguments);
    FPipeName = BridgePipeName(FBridge->Pid());
}

std::wstring BridgeFixture::DefaultArguments()
{
    // Nothing serves the master pipe of this pid: the announcement at start fails fast.
    return L"-name=Load -version=1.0 -pid=" + std::to_wstring(GetCurrentProcessId());
}

std::wstring BridgeFixture::SendLogMarker(const wchar_t* Purpose)
{
    static std::atomic<int> serial{0};
    std::wstring marker = L"LOADMARK_" + std::wstring(Purpose) + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                          std::to_wstring(++serial);
    EXPECT_FALSE(Ask(FPipeName, Request(marker))) << "an unknown command was answered";
    return marker;
}

void BridgeFixture::WaitForLogToCatchUp()
{
    ASSERT_TRUE(test_support::WaitForLogLine(Pid(), SendLogMarker(L"catchup"), 120s));
}

} // namespace load
