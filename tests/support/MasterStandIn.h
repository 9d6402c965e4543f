// master_standin.exe serving a master pipe for a test, with its record of what it
// received in a file of its own; stopped and its record deleted at the end.
#pragma once

#include "support/BridgeTestSupport.h"

#include "messages/UPipeMessage.h"

#include <string>
#include <vector>

namespace test_support
{

class TStandIn
{
public:
    // Options as master_standin takes them. ServedPid: the pid its pipe is named
    // after; empty for the stand-in's own. Raises when the pipe is not served.
    explicit TStandIn(const std::wstring& Options, const std::wstring& ServedPid = L"");
    TStandIn(const TStandIn&) = delete;
    TStandIn& operator=(const TStandIn&) = delete;
    ~TStandIn();

    [[nodiscard]] const std::wstring& ServedPid() const noexcept { return FServedPid; }
    void Kill() { FProcess.Kill(); }

    // With -requests=N it exits once N clients have closed their end, so its exit
    // shows that the client let go of the pipe.
    bool Exited();

    // What it recorded so far: one line of JSON per envelope received.
    [[nodiscard]] std::string RecordText() const;

    // The envelopes received so far, in order.
    [[nodiscard]] std::vector<TTPPipeMessage> Envelopes() const;

private:
    std::wstring FOutFile;
    TChildProcess FProcess;
    std::wstring FServedPid;
};

} // namespace test_support
