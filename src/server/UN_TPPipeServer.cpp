#include "server/UN_TPPipeServer.h"

TTPPipeServer::TTPPipeServer(std::wstring AServerID, std::chrono::milliseconds AClientSilenceLimit,
                             std::chrono::milliseconds ADetectorWaitLimit)
    : TNamedPipeServer(std::move(AServerID), AClientSilenceLimit), FDetectorWaitLimit(ADetectorWaitLimit)
{
    Start();
}

TTPPipeServer::~TTPPipeServer()
{
    Shutdown();
}

std::wstring TTPPipeServer::HandleRequest(const std::wstring& ARequest)
{
    return GetRequestDispatcher().ProcessRequest(ARequest);
}

void TTPPipeServer::RequestServed() noexcept
{
    if (FRequestDispatcher)
        FRequestDispatcher->RunAfterAnswer();
}

TCalcRequestDispatcher& TTPPipeServer::GetRequestDispatcher()
{
    if (!FRequestDispatcher)
        FRequestDispatcher = std::make_unique<TCalcRequestDispatcher>(FDetectorWaitLimit);
    return *FRequestDispatcher;
}
