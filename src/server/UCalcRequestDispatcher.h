// Runs the commands that the service side sends to the bridge's pipe: reads the
// request envelope, runs the command it names and builds the answer's text. Runs on
// the request server's worker thread; every request holds the process-wide
// RequestLock to its end, so requests never overlap, whichever thread sends them.
#pragma once

#include "messages/UPipeMessage.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

// How long "REQMOTCB" waits for its detector's report (Parts 3.3, 6.1): the
// program's value. A test that needs only the path gives a shorter one.
constexpr std::chrono::milliseconds DetectorWaitLimit{2000};

class TCalcRequestDispatcher
{
public:
    // How "OPENURL" hands a URL to the user's default program.
    using TShellOpen = std::function<void(HWND AOwner, const std::wstring& AUrl)>;

    // Opens URLs through the shell. ADetectorWaitLimit: see DetectorWaitLimit.
    explicit TCalcRequestDispatcher(std::chrono::milliseconds ADetectorWaitLimit = DetectorWaitLimit);
    // Opens URLs through AShellOpen, so that a test can see the call without a browser.
    explicit TCalcRequestDispatcher(TShellOpen AShellOpen,
                                    std::chrono::milliseconds ADetectorWaitLimit = DetectorWaitLimit);

    // The answer's text: empty when the command gives none, the error envelope when
    // a failure escapes the command switch.
    std::wstring ProcessRequest(const std::wstring& ARequest);

    // Runs what the last request left to do once its answer has been written and
    // its connection closed ("REQCPIPE" closes the main form only then, so that
    // its answer is out before the process ends). Worker thread; never raises.
    void RunAfterAnswer() noexcept;

private:
    std::wstring InternalProcessRequest(const std::wstring& ARequest);

    // One method per command, listed in InternalProcessRequest. Each stores the
    // answer in AAnswer when it has built it; a failure after that point leaves the
    // answer as it is.
    void OpenUrl(const TTPPipeMessage& ARequest, std::wstring& AAnswer);
    void SendUserInfo(const TTPPipeMessage& ARequest, std::wstring& AAnswer);
    void ReadClipboardFiles(const TTPPipeMessage& ARequest, std::wstring& AAnswer);
    void FindDropFolder(const TTPPipeMessage& ARequest, std::wstring& AAnswer);
    void CloseBridge(const TTPPipeMessage& ARequest, std::wstring& AAnswer);
    void ShowTrayBalloon(const TTPPipeMessage& ARequest, std::wstring& AAnswer);
    void SetTrayMenuTexts(const TTPPipeMessage& ARequest, std::wstring& AAnswer);

    TShellOpen FShellOpen;
    std::chrono::milliseconds FDetectorWaitLimit;
    std::function<void()> FAfterAnswer;
};
