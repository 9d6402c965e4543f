// A text log that any thread may write to without waiting for the disk. Log()
// stamps the line and queues it; the pool's one worker appends the lines in queue
// order, opening and closing the file for each, so the file is free between lines.
#pragma once

#include "startup/UN_ThreadUtilities.h"

#include <atomic>
#include <string>
#include <string_view>

class TTxtFileLog
{
public:
    // FileName is the full path and base name, without date and extension.
    TTxtFileLog(std::wstring FileName, std::wstring Ext, bool AddDateTimeToName);
    TTxtFileLog(const TTxtFileLog&) = delete;
    TTxtFileLog& operator=(const TTxtFileLog&) = delete;
    // Stops the worker after the line it is writing; queued lines are dropped.
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

    // Appends one line (UTF-8, CR LF) to the file of WriteDate, with a byte-order
    // mark first when the file is new or empty. Raises when the file cannot be opened.
    // The worker passes the date at write time, not the line's own time, so a line
    // stamped before midnight and written after it goes to the new day's file.
    static void WriteLogLine(const std::wstring& FileName, const std::wstring& Ext,
                             std::wstring_view Text, bool AddDateTime, const SYSTEMTIME& WriteDate);

private:
    void HandleLogRequest(void* Data, UN_ThreadUtilities::TSimpleThread& AThread);

    std::wstring _prefix;
    std::wstring _FileName;
    std::wstring _Ext;
    bool _AddDateTime;
    wchar_t _TimeSeparator = L':';
    std::atomic<long> _Pending{0};
    UN_ThreadUtilities::TThreadPool _FThreadPool;
};
