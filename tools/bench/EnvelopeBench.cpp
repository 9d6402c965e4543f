#include "EnvelopeBench.h"

#include "messages/PipeFrame.h"
#include "messages/UPipeMessage.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace bench
{

namespace
{

TTPPipeMessage EnvelopeOf(int Parameters)
{
    std::vector<std::wstring> keys;
    for (int i = 0; i < Parameters; ++i)
        keys.push_back(std::to_wstring(i));
    return TTPPipeMessage(L"SUINFO", keys, std::vector<std::wstring>(keys.size(), L"v"));
}

TSummary TimeWriting(const TTPPipeMessage& Message, int Runs)
{
    std::vector<double> samples;
    for (int i = 0; i < Runs; ++i)
    {
        TStopwatch watch;
        std::wstring text = Message.AsString();
        samples.push_back(watch.ElapsedMicroseconds());
        if (text.empty())
            throw std::runtime_error("the envelope writer failed");
    }
    return Summarize(std::move(samples));
}

TSummary TimeReading(const std::wstring& Text, std::size_t Parameters, int Runs)
{
    std::vector<double> samples;
    for (int i = 0; i < Runs; ++i)
    {
        TStopwatch watch;
        TTPPipeMessage message{std::wstring_view(Text)};
        samples.push_back(watch.ElapsedMicroseconds());
        if (message.DataList().size() != Parameters)
            throw std::runtime_error("the envelope reader lost parameters");
    }
    return Summarize(std::move(samples));
}

} // namespace

void RunEnvelopeBench(const TEnvelopeBenchOptions& Options, TBenchTable& Table)
{
    constexpr int Crowded = 40000;
    const TTPPipeMessage crowded = EnvelopeOf(Crowded);
    const std::wstring crowdedText = crowded.AsString();
    if (crowdedText.size() * 2 > PipeFrame::MaxPayloadBytes)
        throw std::runtime_error("the crowded envelope does not fit a frame");
    Table.AddLimit("envelope read, 40000 parameters, in-process", TimeReading(crowdedText, Crowded, Options.Runs),
                   100000.0);
    Table.AddInfo("envelope write, 40000 parameters, in-process (no target)", TimeWriting(crowded, Options.Runs));

    constexpr int Ordinary = 10;
    const TTPPipeMessage ordinary = EnvelopeOf(Ordinary);
    const int ordinaryRuns = Options.Runs * 100;
    Table.AddInfo("envelope read, 10 parameters, in-process (no target)",
                  TimeReading(ordinary.AsString(), Ordinary, ordinaryRuns));
    Table.AddInfo("envelope write, 10 parameters, in-process (no target)", TimeWriting(ordinary, ordinaryRuns));
}

} // namespace bench
