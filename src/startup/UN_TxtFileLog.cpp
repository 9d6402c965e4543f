#include "startup/UN_TxtFileLog.h"

#include "startup/GF_SupportFunctions.h"
#include "startup/WinError.h"
#include "startup/WinHandle.h"

#include <windows.h>

#include <cwchar>
#include <memory>

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

wchar_t RegionalTimeSeparator()
{
    wchar_t separator[8] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8) > 1)
        return separator[0];
    return L':';
}

void WriteAll(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    Check(WriteFile(file, data, size, &written, nullptr) && written == size, "WriteFile");
}

} // namespace

TTxtFileLog::TTxtFileLog(std::wstring FileName, std::wstring Ext, bool AddDateTimeToName)
    : _FileName(std::move(FileName)),
      _Ext(std::move(Ext)),
      _AddDateTime(AddDateTimeToName),
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
    SYSTEMTIME now;
    GetLocalTime(&now);
    auto request = std::make_unique<TLogRequest>(TLogRequest{FormatLine(now, Text), _Ext, _FileName, _AddDateTime});
    ++_Pending;
    try
    {
        _FThreadPool.Add(request.get());
    }
    catch (...)
    {
        --_Pending;
        throw;
    }
    request.release(); // now owned by the queue, then by HandleLogRequest
}

bool TTxtFileLog::Drain(DWORD TimeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + TimeoutMs;
    while (_Pending.load() > 0)
    {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(1);
    }
    return true;
}

void TTxtFileLog::HandleLogRequest(void* Data, UN_ThreadUtilities::TSimpleThread&)
{
    std::unique_ptr<TLogRequest> request(static_cast<TLogRequest*>(Data));
    struct TDone
    {
        std::atomic<long>& Pending;
        ~TDone() { --Pending; }
    } done{_Pending};
    SYSTEMTIME now;
    GetLocalTime(&now);
    WriteLogLine(request->FileName, request->Ext, request->LogText, request->AddDatetime, now);
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

void TTxtFileLog::WriteLogLine(const std::wstring& FileName, const std::wstring& Ext,
                               std::wstring_view Text, bool AddDateTime, const SYSTEMTIME& WriteDate)
{
    std::wstring path = LogFileName(FileName, Ext, AddDateTime, WriteDate);

    // The folder belongs to the installer and is never created here. Readers that
    // share writing do not make lines vanish; a holder that denies writing does.
    TUniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        ThrowLastError("CreateFileW");

    LARGE_INTEGER end{};
    Check(SetFilePointerEx(file.Get(), LARGE_INTEGER{}, &end, FILE_END), "SetFilePointerEx");
    try
    {
        std::string bytes = end.QuadPart == 0 ? "\xEF\xBB\xBF" : "";
        bytes += WideToUtf8(Text);
        bytes += "\r\n";
        WriteAll(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()));
    }
    catch (const EWin32Error&)
    {
        // A failed write (disk full) loses this line only.
    }
}
