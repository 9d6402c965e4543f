// The bridge's request server: the pipe server of "\\.\pipe\uxsvc_" + server id
// whose requests go to a dispatcher. Created once, by the main form.
#pragma once

#include "server/UCalcRequestDispatcher.h"
#include "server/UPipeServer.h"

#include <chrono>
#include <memory>
#include <string>

class TTPPipeServer final : public TNamedPipeServer
{
public:
    // The program passes ClientSilenceLimit and DetectorWaitLimit.
    TTPPipeServer(std::wstring AServerID, std::chrono::milliseconds AClientSilenceLimit,
                  std::chrono::milliseconds ADetectorWaitLimit);
    // Stops the threads before the dispatcher goes: the worker may be using it.
    ~TTPPipeServer() override;

protected:
    std::wstring HandleRequest(const std::wstring& ARequest) override;
    void RequestServed() noexcept override;

private:
    // Made by the first request, on the worker thread, the only thread that uses it.
    TCalcRequestDispatcher& GetRequestDispatcher();

    std::chrono::milliseconds FDetectorWaitLimit;
    std::unique_ptr<TCalcRequestDispatcher> FRequestDispatcher;
};
