#include "startup/UN_TxtFileLog.h"

#include "base/SecurityDescriptor.h"
#include "base/TextConversion.h"
#include "base/WinError.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <vector>

namespace
{

// One queued line; carries copies so that the worker never reads the log's fields.
struct TLogRequest
{
    std::wstring LogText;
    std::wstring Ext;
    std::wstring FileName;
    bool AddDatetime;
};

constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";

// Read and append: FILE_READ_DATA because LockFileEx needs read or write access
// to the data, FILE_READ_ATTRIBUTES for the file's size. Without FILE_WRITE_DATA
// every write goes to the end of the file, wherever the others have left it.
constexpr DWORD AppendAccess = FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_APPEND_DATA | SYNCHRONIZE;

constexpr DWORD HeldFileRetryStepMs = 20;
// Another bridge holds its turn only for one write.
constexpr DWORD TurnRetryStepMs = 1;

// A burst goes out in writes of about this size, each of whole lines.
constexpr std::size_t MaxBurstChars = 32 * 1024;

// Far beyond any log's end, so that locking it never blocks a write of a program
// that does not take turns: the bridges lock this byte only to take turns.
constexpr ULONGLONG AppendTurnOffset = 1ull << 62;

wchar_t RegionalTimeSeparator()
{
    wchar_t separator[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8) > 1)
        return separator[0];
    return L':';
}

SYSTEMTIME SystemLocalTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now;
}

// Runs Attempt until it succeeds; while another program holds the file (sharing
// or lock violation), tries again every StepMs for up to HeldFileWaitMs. Raises
// with the last error otherwise.
template <typename TAttempt>
void RetryWhileHeld(TAttempt Attempt, const char* Api, DWORD StepMs)
{
    const ULONGLONG deadline = GetTickCount64() + TLogFileAppender::HeldFileWaitMs;
    while (!Attempt())
    {
        DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) || GetTickCount64() >= deadline)
            ThrowWin32Error(error, Api);
        Sleep(StepMs);
    }
}

ULONGLONG FileSize(HANDLE file)
{
    LARGE_INTEGER size{};
    Check(GetFileSizeEx(file, &size), "GetFileSizeEx");
    return static_cast<ULONGLONG>(size.QuadPart);
}

void WriteAll(HANDLE file, std::string_view bytes)
{
    DWORD written = 0;
    Check(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size(),
          "WriteFile");
}

// One bridge's turn to write to the day's file. On Windows a handle that may only
// append writes each block whole at the end by itself; under Wine a write to the
// end is a move to the end and a write, which two processes can interleave, so
// that one line lands on another. The turn also settles which of several bridges
// that find the file empty writes the byte-order mark. Waited for by polling, so
// that a program that keeps the byte locked cannot stop the log for good.
class TAppendTurn
{
public:
    explicit TAppendTurn(HANDLE file) : FFile(file)
    {
        RetryWhileHeld(
            [this] {
                OVERLAPPED at = Region();
                return LockFileEx(FFile, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
            },
            "LockFileEx", TurnRetryStepMs);
    }
    TAppendTurn(const TAppendTurn&) = delete;
    TAppendTurn& operator=(const TAppendTurn&) = delete;
    ~TAppendTurn()
    {
        OVERLAPPED at = Region();
        UnlockFileEx(FFile, 0, 1, 0, &at);
    }

private:
    static OVERLAPPED Region() noexcept
    {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(AppendTurnOffset);
        at.OffsetHigh = static_cast<DWORD>(AppendTurnOffset >> 32);
        return at;
    }

    HANDLE FFile;
};

// The requests of one burst, released (and counted as done for Drain) once
// written or given up.
class TLogBurst
{
public:
    explicit TLogBurst(TPendingLines& Pending) : FPending(Pending) {}
    TLogBurst(const TLogBurst&) = delete;
    TLogBurst& operator=(const TLogBurst&) = delete;
    ~TLogBurst() { Clear(); }

    void Add(void* Data)
    {
        FRequests.emplace_back(static_cast<TLogRequest*>(Data));
        FChars += FRequests.back()->LogText.size() + 2;
    }
    [[nodiscard]] bool Full() const noexcept { return FChars >= MaxBurstChars; }
    [[nodiscard]] const std::vector<std::unique_ptr<TLogRequest>>& Requests() const noexcept { return FRequests; }

    void Clear() noexcept
    {
        FPending.Done(static_cast<long>(FRequests.size()));
        FRequests.clear();
        FChars = 0;
    }

private:
    TPendingLines& FPending;
    std::vector<std::unique_ptr<TLogRequest>> FRequests;
    std::size_t FChars = 0;
};

// Appends the burst's lines to the files of WriteDate: one write for each run of
// lines bound for the same file (all of them, for the process's one log).
void WriteBurst(TLogFileAppender& file, const TLogBurst& burst, const SYSTEMTIME& writeDate)
{
    const auto& requests = burst.Requests();
    auto pathOf = [&writeDate](const TLogRequest& request) {
        return TTxtFileLog::LogFileName(request.FileName, request.Ext, request.AddDatetime, writeDate);
    };
    for (std::size_t first = 0; first < requests.size();)
    {
        const std::wstring path = pathOf(*requests[first]);
        std::string bytes;
        std::size_t next = first;
        for (; next < requests.size() && pathOf(*requests[next]) == path; ++next)
            bytes.append(WideToUtf8(requests[next]->LogText)).append("\r\n");
        try
        {
            file.Append(path, bytes);
        }
        catch (const EWin32Error&)
        {
            // A missing folder, a file held too long or a full disk loses these
            // lines only; the next burst tries afresh.
        }
        first = next;
    }
}

} // namespace

void TLogFileAppender::Append(const std::wstring& Path, std::string_view Lines)
{
    if (!FFile || Path != FPath)
        Open(Path);
    try
    {
        TAppendTurn turn(FFile.Get());
        if (FileSize(FFile.Get()) > 0)
            WriteAll(FFile.Get(), Lines);
        else
            WriteAll(FFile.Get(), std::string(ByteOrderMark).append(Lines));
    }
    catch (const EWin32Error&)
    {
        Close();
        throw;
    }
}

void TLogFileAppender::Open(const std::wstring& Path)
{
    Close();
    // LogFileSecurity(), converted once for every file the process creates.
    static TSecurityAttributes security(SecurityDescriptorFromSddl(TLogFileAppender::LogFileSecurity()));
    HANDLE file = INVALID_HANDLE_VALUE;
    // The folder belongs to the installer and is never created here.
    RetryWhileHeld(
        [&] {
            file = CreateFileW(Path.c_str(), AppendAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, security.Get(),
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            return file != INVALID_HANDLE_VALUE;
        },
        "CreateFileW", HeldFileRetryStepMs);
    FFile.Reset(file);
    FPath = Path;
}

const wchar_t* TLogFileAppender::LogFileSecurity() noexcept
{
    // 0x12008D: FILE_GENERIC_READ and FILE_APPEND_DATA. Protected, so that rights
    // handed down by the folder never widen it.
    return L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12008D;;;AU)";
}

TTxtFileLog::TTxtFileLog(std::wstring FileName, std::wstring Ext, bool AddDateTimeToName, TLocalClock Clock)
    : _FileName(std::move(FileName)),
      _Ext(std::move(Ext)),
      _AddDateTime(AddDateTimeToName),
      _Clock(Clock ? std::move(Clock) : TLocalClock(SystemLocalTime)),
      _TimeSeparator(RegionalTimeSeparator()),
      _FThreadPool([this](void* data, UN_ThreadUtilities::TSimpleThread& thread) { HandleLogRequest(data, thread); }, 1)
{
}

std::wstring TTxtFileLog::FormatLine(const SYSTEMTIME& Time, std::wstring_view Text) const
{
    wchar_t stamp[32];
    std::swprintf(stamp, 32, L"%02u%lc%02u.%02u.%03u", unsigned(Time.wHour), wint_t(_TimeSeparator),
                  unsigned(Time.wMinute), unsigned(Time.wSecond), unsigned(Time.wMilliseconds));
    std::wstring line;
    line.reserve(_prefix.size() + Text.size() + 24);
    line.append(L"<").append(_prefix).append(L"> - ").append(stamp).append(L" - ").append(Text);
    return line;
}

void TTxtFileLog::Log(std::wstring_view Text)
{
    auto request = std::make_unique<TLogRequest>(TLogRequest{FormatLine(_Clock(), Text), _Ext, _FileName, _AddDateTime});
    _Pending.Add();
    try
    {
        _FThreadPool.Add(request.get());
    }
    catch (...)
    {
        _Pending.Done(1);
        throw;
    }
    request.release(); // now owned by the queue, then by HandleLogRequest
}

void TPendingLines::Done(long Count) noexcept
{
    if (Count == 0 || FCount.fetch_sub(Count) != Count)
        return;
    // Taken after the count reached 0: a waiter has either seen 0 already or is
    // asleep on FNone, so the wake-up cannot fall between its test and its sleep.
    std::lock_guard lock(FLock);
    FNone.NotifyAll();
}

bool TPendingLines::WaitNone(DWORD TimeoutMs)
{
    std::unique_lock lock(FLock);
    return FNone.WaitFor(lock, TimeoutMs, [this] { return FCount.load() <= 0; });
}

bool TTxtFileLog::Drain(DWORD TimeoutMs)
{
    return _Pending.WaitNone(TimeoutMs);
}

// Takes Data and whatever else is queued, writes it with one open of the file,
// goes on while lines keep arriving, and closes the file once the queue is empty.
// Each write's date is taken when it is written, so that a line stamped before
// midnight and written after it goes to the new day's file.
void TTxtFileLog::HandleLogRequest(void* Data, UN_ThreadUtilities::TSimpleThread&)
{
    TLogBurst burst(_Pending);
    TLogFileAppender file;
    void* item = Data;
    while (item != nullptr)
    {
        burst.Add(item);
        if (burst.Full() || !_FThreadPool.TakeQueued(item))
        {
            WriteBurst(file, burst, _Clock());
            // Closed before the burst counts as done, so that a caller of Drain
            // finds the file free.
            if (!_FThreadPool.TakeQueued(item))
                file.Close();
            burst.Clear();
        }
    }
}

std::wstring TTxtFileLog::LogFileName(const std::wstring& FileName, const std::wstring& Ext,
                                      bool AddDateTime, const SYSTEMTIME& Date)
{
    if (!AddDateTime)
        return FileName + Ext;
    wchar_t date[16];
    std::swprintf(date, 16, L"_%04u%02u%02u", unsigned(Date.wYear), unsigned(Date.wMonth), unsigned(Date.wDay));
    return FileName + date + Ext;
}
