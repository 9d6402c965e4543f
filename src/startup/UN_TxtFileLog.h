// A text log that any thread may write to without waiting for the disk. Log()
// stamps the line and queues it; the pool's one worker appends whatever is queued
// in bursts, one open of the day's file per burst, and closes the file as soon as
// the queue is empty, so that nothing holds it between bursts. Every bridge on the
// machine (one per session) appends to the same day's file.
#pragma once

#include "base/WinHandle.h"
#include "startup/UN_ThreadUtilities.h"

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

// The local time, as GetLocalTime gives it; tests put a clock of their own here to
// cross midnight.
using TLocalClock = std::function<SYSTEMTIME()>;

// One open of a day's file, kept for one burst of lines. The file is opened for
// appending only, sharing reading and writing, and the bridges take turns to
// write, so that each write of any bridge lands whole at the end of the file.
class TLogFileAppender
{
public:
    // How long a program that holds the file without sharing is waited for before
    // the lines are given up.
    static constexpr DWORD HeldFileWaitMs = 2000;

    TLogFileAppender() = default;
    TLogFileAppender(const TLogFileAppender&) = delete;
    TLogFileAppender& operator=(const TLogFileAppender&) = delete;

    // Appends Lines (whole UTF-8 lines, each ended by CR LF) to the file at Path in
    // one write, after the byte-order mark when the file is empty. Creates the file
    // with LogFileSecurity(), never its folder. Raises when the file cannot be
    // opened or written; the file is closed then.
    void Append(const std::wstring& Path, std::string_view Lines);

    // Lets go of the file, so that others may move, read or delete it.
    void Close() noexcept
    {
        FFile.Reset();
        FPath.clear();
    }

    // The descriptor of a day's file, as SDDL: LocalSystem and the Administrators
    // have full control; every other signed-in user (Authenticated Users) may read
    // the file and append to it, so that the bridges of all sessions log into a
    // file that one of them created, but may not rewrite, truncate or delete it.
    // The owner, the user whose bridge created the file, keeps only the implicit
    // rights of an owner.
    static const wchar_t* LogFileSecurity() noexcept;

private:
    void Open(const std::wstring& Path);

    TUniqueHandle FFile;
    std::wstring FPath;
};

// The count of lines logged and not yet written or dropped. Counting stays
// lock-free for Log(); only the step that empties the count takes the lock, to
// wake whoever waits for that.
class TPendingLines
{
public:
    void Add() noexcept { ++FCount; }
    void Done(long Count) noexcept;
    // True once the count is 0, false when TimeoutMs (INFINITE: none) ran out first.
    bool WaitNone(DWORD TimeoutMs);

private:
    std::atomic<long> FCount{0};
    TSlimLock FLock;
    TSlimCondition FNone;
};

class TTxtFileLog
{
public:
    // FileName is the full path and base name, without date and extension.
    TTxtFileLog(std::wstring FileName, std::wstring Ext, bool AddDateTimeToName, TLocalClock Clock = {});
    TTxtFileLog(const TTxtFileLog&) = delete;
    TTxtFileLog& operator=(const TTxtFileLog&) = delete;
    // Stops the worker after the burst it is writing; queued lines are dropped.
    ~TTxtFileLog() = default;

    // Set once, right after creation, before any line is logged.
    void SetPrefix(std::wstring Prefix) { _prefix = std::move(Prefix); }

    // Returns at once; reports nothing about the file.
    void Log(std::wstring_view Text);

    // Waits until every line queued so far has been written or dropped, or until
    // the time is up; true when nothing is left. Used once, as the process ends.
    bool Drain(DWORD TimeoutMs);

    // "<prefix> - hh:nn.ss.zzz - Text" for the given local time.
    [[nodiscard]] std::wstring FormatLine(const SYSTEMTIME& Time, std::wstring_view Text) const;

    // The file that a line written at this local date goes to.
    static std::wstring LogFileName(const std::wstring& FileName, const std::wstring& Ext,
                                    bool AddDateTime, const SYSTEMTIME& Date);

private:
    void HandleLogRequest(void* Data, UN_ThreadUtilities::TSimpleThread& AThread);

    std::wstring _prefix;
    std::wstring _FileName;
    std::wstring _Ext;
    bool _AddDateTime;
    TLocalClock _Clock;
    wchar_t _TimeSeparator = L':';
    TPendingLines _Pending;
    UN_ThreadUtilities::TThreadPool _FThreadPool;
};
