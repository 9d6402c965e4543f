// Seeded fuzzing of the readers of what peers send: the frame reader (through a
// real anonymous pipe) and the envelope reader. Inputs are valid envelopes and
// frames of our own writer, mutated. Nothing may crash, hang or throw past the
// reader; every reader call must end within a bound; what our writer wrote must
// read back equal, and what the reader took must survive writing and reading again.
//
// A failing case prints its seed; UXLINK_FUZZ_SEED=<seed> replays exactly that
// case (and the ones after it), UXLINK_FUZZ_CASES=<n> sets how many are run.
#include "base/WinHandle.h"
#include "messages/PipeFrame.h"
#include "messages/UPipeMessage.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;

constexpr std::uint64_t DefaultSeed = 20261211;
constexpr std::uint64_t DefaultCases = 20000;
// Far above what a reader call takes even for the largest inputs under Wine; a
// reader that scans per member or recurses per level would pass it.
constexpr auto CallBound = 2s;
// A reader that hangs is reported by the watchdog instead of stalling the suite.
constexpr auto HangLimit = 20s;

std::uint64_t EnvironmentNumber(const char* Name, std::uint64_t Default)
{
    const char* text = std::getenv(Name);
    return text && *text ? std::strtoull(text, nullptr, 10) : Default;
}

// Printable form of an input: ASCII as it is, everything else as \uXXXX, cut
// in the middle when long (the seed replays it whole).
std::string Printable(std::wstring_view Text)
{
    constexpr std::size_t Shown = 600;
    std::ostringstream out;
    auto put = [&](std::wstring_view part) {
        for (wchar_t c : part)
        {
            if (c >= 0x20 && c < 0x7f)
                out << static_cast<char>(c);
            else
            {
                char escape[8];
                std::snprintf(escape, sizeof(escape), "\\u%04X", static_cast<unsigned>(c));
                out << escape;
            }
        }
    };
    if (Text.size() <= 2 * Shown)
        put(Text);
    else
    {
        put(Text.substr(0, Shown));
        out << " [... " << Text.size() - 2 * Shown << " characters ...] ";
        put(Text.substr(Text.size() - Shown));
    }
    return out.str();
}

// Ends the test program when one case runs past HangLimit, after printing it.
class TCaseWatchdog
{
public:
    TCaseWatchdog()
        : FThread([this] {
              std::unique_lock lock(FMutex);
              while (!FStop)
              {
                  std::uint64_t serial = FSerial;
                  if (FChanged.wait_for(lock, HangLimit, [&] { return FStop || FSerial != serial; }))
                      continue;
                  std::fprintf(stderr, "reader hangs: %s\n", FCase.c_str());
                  std::fflush(stderr);
                  ExitProcess(3);
              }
          })
    {
    }
    ~TCaseWatchdog()
    {
        {
            std::lock_guard lock(FMutex);
            FStop = true;
        }
        FChanged.notify_one();
        FThread.join();
    }

    void Begin(std::string Case)
    {
        std::lock_guard lock(FMutex);
        FCase = std::move(Case);
        ++FSerial;
        FChanged.notify_one();
    }
    void Describe(const std::string& Input)
    {
        std::lock_guard lock(FMutex);
        FCase += " input: " + Input;
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::string FCase;
    std::uint64_t FSerial = 0;
    bool FStop = false;
    std::thread FThread;
};

// ---------------------------------------------------------------- inputs

class TInputMaker
{
public:
    explicit TInputMaker(std::uint64_t Seed) : FRandom(Seed) {}

    std::size_t Below(std::size_t N) { return std::uniform_int_distribution<std::size_t>(0, N - 1)(FRandom); }
    bool OneIn(std::size_t N) { return Below(N) == 0; }

    // Text that our writer carries unchanged: no lone surrogates (the writer
    // replaces them), but everything else that needs care.
    std::wstring Text(std::size_t MaxLength)
    {
        static const std::wstring Pieces[] = {
            L"a", L"Z", L"0", L" ", L"=", L"\"", L"\\", L"\\\\", L"/", L"\\u00e9", L"\r\n", L"\t",
            std::wstring(1, L'\0'), L"\x01", L"\x1f", L"\x7f", L"\u00e9", L"\u00c9", L"\u20ac", L"\U0001F600",
            L"{", L"}", L"[", L"]", L":", L",", L"true", L"null", L"-1.5e3",
        };
        std::wstring text;
        std::size_t length = Below(MaxLength + 1);
        while (text.size() < length)
            text += Pieces[Below(std::size(Pieces))];
        return text;
    }

    TTPPipeMessage Envelope()
    {
        TTPPipeMessage message(Text(12), {}, {});
        std::size_t parameters = OneIn(100) ? 100 + Below(400) : Below(8);
        for (std::size_t i = 0; i < parameters; ++i)
        {
            // Few distinct names, so that letter case collides and removals happen.
            std::wstring name;
            if (OneIn(4))
                name = Text(6);
            else
                name.append(1, L"aAbB"[Below(4)]).append(std::to_wstring(Below(parameters + 1)));
            message.SetData(name, OneIn(10) ? L"" : Text(OneIn(50) ? 5000 : 30));
        }
        if (OneIn(4))
        {
            message.SetIsError(true);
            message.SetErrorCode(Text(10));
            message.SetErrorText(Text(20));
        }
        return message;
    }

    // One of the ways a hostile or broken peer changes a text.
    void Mutate(std::wstring& Text)
    {
        auto at = [&] { return Below(Text.size() + 1); };
        switch (Below(12))
        {
        case 0: // a character flipped in one of its bits
            if (!Text.empty())
                Text[Below(Text.size())] ^= static_cast<wchar_t>(1u << Below(16));
            break;
        case 1: // cut off
            Text.resize(at());
            break;
        case 2: // a piece taken out
        {
            std::size_t from = at();
            Text.erase(from, Below(Text.size() - from + 1));
            break;
        }
        case 3: // brackets
            Text.insert(at(), std::wstring(1 + Below(4), L"{}[]"[Below(4)]));
            break;
        case 4: // quotes and colons
            Text.insert(at(), std::wstring(1, L"\":,"[Below(3)]));
            break;
        case 5: // escapes, whole, cut or invalid, lone surrogates among them
        {
            static const wchar_t* Escapes[] = {L"\\", L"\\\\", L"\\\"", L"\\u", L"\\u12", L"\\uD800", L"\\uDC00",
                                               L"\\uD83D\\uDE00", L"\\x41", L"\\n", L"\\u0000"};
            Text.insert(at(), Escapes[Below(std::size(Escapes))]);
            break;
        }
        case 6: // a raw lone surrogate
            Text.insert(at(), std::wstring(1, static_cast<wchar_t>(OneIn(2) ? 0xD800 + Below(0x400) : 0xDC00 + Below(0x400))));
            break;
        case 7: // a very long number
            Text.insert(at(), (OneIn(2) ? L"-" : L"") + std::wstring(1 + Below(OneIn(20) ? 40000 : 400), L'9') +
                                  (OneIn(2) ? L".5e" + std::to_wstring(Below(100000)) : L""));
            break;
        case 8: // deep nesting, closed or not
        {
            std::size_t levels = OneIn(20) ? 20000 + Below(100000) : 1 + Below(200);
            wchar_t open = OneIn(2) ? L'[' : L'{';
            std::wstring nest;
            for (std::size_t i = 0; i < levels; ++i)
                nest += open == L'[' ? L"[" : L"{\"k\":";
            if (!OneIn(2))
            {
                Text.insert(at(), nest);
                break;
            }
            nest += (open == L'[' ? L"" : L"1") + std::wstring(levels, open == L'[' ? L']' : L'}');
            // Closed and put in front of a member's value, it keeps the text JSON:
            // "a":[[...]],"deep":"value".
            std::size_t colon = Text.find(L"\":", at());
            if (colon == std::wstring::npos)
                Text.insert(at(), nest);
            else
                Text.insert(colon + 2, nest + L",\"deep\":");
            break;
        }
        case 9: // many members
        {
            std::wstring members;
            std::size_t count = OneIn(20) ? 5000 + Below(40000) : 1 + Below(100);
            for (std::size_t i = 0; i < count; ++i)
                members += L"\"m" + std::to_wstring(OneIn(3) ? Below(count) : i) + L"\":\"v\",";
            Text.insert(at(), members);
            break;
        }
        case 10: // a member's name given again, or with "=" in it
        {
            std::size_t quote = Text.find(L'"', at());
            std::wstring name = OneIn(2) ? L"\"a=b\":\"c\"," : L"\"command\":\"again\",";
            Text.insert(quote == std::wstring::npos ? at() : quote, name);
            break;
        }
        default: // a piece repeated
        {
            std::size_t from = at();
            std::wstring piece = Text.substr(from, Below(64));
            Text.insert(at(), piece);
            break;
        }
        }
    }

    // Frame bytes: mostly whole frames of the text, then bytes changed anywhere,
    // the length prefix included.
    std::string Frame(const std::wstring& Text)
    {
        std::string bytes = PipeFrame::EncodeFrame(Text);
        for (std::size_t i = 0, n = Below(4); i < n && !bytes.empty(); ++i)
        {
            switch (Below(4))
            {
            case 0:
                bytes[Below(bytes.size())] ^= static_cast<char>(1u << Below(8));
                break;
            case 1:
                bytes.resize(Below(bytes.size() + 1));
                break;
            case 2:
                bytes[Below(std::min<std::size_t>(bytes.size(), PipeFrame::LengthSize))] =
                    static_cast<char>(Below(256));
                break;
            default:
                bytes.insert(Below(bytes.size() + 1), std::string(1 + Below(8), static_cast<char>(Below(256))));
                break;
            }
        }
        return bytes;
    }

private:
    std::mt19937_64 FRandom;
};

// ---------------------------------------------------------------- checks

template <typename TCall>
void WithinBound(const char* What, TCall Call)
{
    auto start = std::chrono::steady_clock::now();
    Call();
    auto took = std::chrono::steady_clock::now() - start;
    if (took > CallBound)
        throw std::runtime_error(std::string(What) + " took " +
                                 std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()) +
                                 " ms");
}

// Equal as far as the text carries them: the error members travel only with the
// error flag, whatever a reader took from a text whose flag was not set.
bool SameEnvelope(const TTPPipeMessage& A, const TTPPipeMessage& B)
{
    return A.Name() == B.Name() && A.IsError() == B.IsError() &&
           (!A.IsError() || (A.ErrorCode() == B.ErrorCode() && A.ErrorText() == B.ErrorText())) &&
           A.DataList() == B.DataList();
}

// What the envelope reader took from a peer's text is an envelope of its own:
// written and read again, it comes back equal.
void CheckReadEnvelope(const std::wstring& Text)
{
    std::optional<TTPPipeMessage> read;
    WithinBound("envelope reader", [&] { read.emplace(std::wstring_view(Text)); });
    std::wstring written;
    WithinBound("envelope writer", [&] { written = read->AsString(); });
    if (written.empty())
        throw std::runtime_error("the writer failed on what the reader took");
    std::optional<TTPPipeMessage> again;
    WithinBound("envelope reader", [&] { again.emplace(std::wstring_view(written)); });
    if (!SameEnvelope(*read, *again))
        throw std::runtime_error("what was read did not survive writing and reading again: " + Printable(written));
}

// The frame reader on a real pipe whose other end writes Bytes and closes.
std::optional<std::string> ReadFrameFrom(const std::string& Bytes)
{
    // What fits the pipe's buffer is written before reading; more needs a writer
    // of its own, which costs a thread per case.
    constexpr DWORD BufferBytes = 64 * 1024;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, nullptr, BufferBytes))
        throw std::runtime_error("CreatePipe failed");
    TUniqueHandle reader(readEnd);
    TUniqueHandle writer(writeEnd);
    auto writeAll = [&] {
        PipeFrame::WriteExact(writer.Get(), Bytes.data(), Bytes.size());
        writer.Reset();
    };
    std::jthread writing;
    if (Bytes.size() <= BufferBytes)
        writeAll();
    else
        writing = std::jthread(writeAll);
    std::optional<std::string> payload;
    try
    {
        payload = PipeFrame::ReadFrame(reader.Get());
    }
    catch (const std::length_error&)
    {
        // An announced length beyond the bound: refused, the designed outcome.
    }
    // Closing our end fails a write still waiting for room, so the writer ends.
    reader.Reset();
    if (writing.joinable())
        writing.join();
    return payload;
}

// AInput: the text being read, for the report of a failure.
void RunCase(TInputMaker& Maker, TCaseWatchdog& Watchdog, std::wstring& AInput)
{
    TTPPipeMessage original = Maker.Envelope();
    std::wstring text = original.AsString();
    AInput = text;
    if (text.empty())
        throw std::runtime_error("the writer failed on an envelope");
    TTPPipeMessage copy{std::wstring_view(text)};
    if (!SameEnvelope(original, copy))
        throw std::runtime_error("the writer's envelope did not read back equal: " + Printable(text));

    const std::wstring valid = text;
    for (std::size_t i = 0, n = 1 + Maker.Below(4); i < n; ++i)
        Maker.Mutate(text);
    AInput = text;
    Watchdog.Describe(Printable(text));
    CheckReadEnvelope(text);

    if (Maker.OneIn(4))
    {
        std::string bytes = Maker.Frame(Maker.OneIn(2) ? valid : text);
        AInput = L"frame bytes as UTF-16: " + PipeFrame::DecodeText(bytes);
        std::optional<std::string> payload;
        WithinBound("frame reader", [&] { payload = ReadFrameFrom(bytes); });
        if (payload)
            CheckReadEnvelope(PipeFrame::DecodeText(*payload));
    }
}

TEST(ReaderFuzz, MutatedEnvelopesAndFramesNeverCrashHangOrMislead)
{
    const std::uint64_t firstSeed = EnvironmentNumber("UXLINK_FUZZ_SEED", DefaultSeed);
    const std::uint64_t cases = EnvironmentNumber("UXLINK_FUZZ_CASES", DefaultCases);
    TCaseWatchdog watchdog;
    int failures = 0;
    for (std::uint64_t i = 0; i < cases && failures < 5; ++i)
    {
        const std::uint64_t seed = firstSeed + i;
        watchdog.Begin("UXLINK_FUZZ_SEED=" + std::to_string(seed));
        TInputMaker maker(seed);
        std::wstring input;
        try
        {
            RunCase(maker, watchdog, input);
        }
        catch (const std::exception& e)
        {
            ++failures;
            ADD_FAILURE() << "UXLINK_FUZZ_SEED=" << seed << " UXLINK_FUZZ_CASES=1: " << e.what()
                          << "\ninput: " << Printable(input);
        }
    }
}

} // namespace
