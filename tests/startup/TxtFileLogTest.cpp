#include "AccessProbe.h"

#include "base/SecurityDescriptor.h"
#include "base/WinHandle.h"
#include "startup/GF_SupportFunctions.h"
#include "startup/UN_TxtFileLog.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{

// A temporary folder of its own for each test, removed with what it holds.
class LogFolderFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        FFolder = std::wstring(temp) + L"uxlink-log-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(GetTickCount64()) + L"\\";
        ASSERT_TRUE(CreateDirectoryW(FFolder.c_str(), nullptr));
    }

    void TearDown() override
    {
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((FFolder + L"*").c_str(), &found);
        if (find != INVALID_HANDLE_VALUE)
        {
            TUniqueFind closeFind(find);
            do
                DeleteFileW((FFolder + found.cFileName).c_str());
            while (FindNextFileW(find, &found));
        }
        RemoveDirectoryW(FFolder.c_str());
    }

    static std::string ReadBytes(const std::wstring& path)
    {
        std::ifstream in(path.c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::wstring TodaysFile(const std::wstring& base)
    {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return TTxtFileLog::LogFileName(FFolder + base, L".log", true, now);
    }

    std::wstring FFolder;
};

TEST(TxtFileLogNames, DatedAndUndatedFileNames)
{
    SYSTEMTIME date{};
    date.wYear = 2026;
    date.wMonth = 3;
    date.wDay = 7;
    EXPECT_EQ(TTxtFileLog::LogFileName(L"C:\\L\\QX_PIPE_BRIDGE", L".log", true, date),
              L"C:\\L\\QX_PIPE_BRIDGE_20260307.log");
    EXPECT_EQ(TTxtFileLog::LogFileName(L"C:\\L\\QX_PIPE_BRIDGE", L".log", false, date), L"C:\\L\\QX_PIPE_BRIDGE.log");
}

TEST(TxtFileLogNames, LineCarriesPrefixAndCallersTime)
{
    TTxtFileLog log(L"C:\\nowhere\\x", L".log", true);
    log.SetPrefix(L"4242");
    SYSTEMTIME time{};
    time.wHour = 23;
    time.wMinute = 59;
    time.wSecond = 59;
    time.wMilliseconds = 999;
    EXPECT_EQ(log.FormatLine(time, L"[Tag] text"), L"<4242> - 23:59.59.999 - [Tag] text");
    time = SYSTEMTIME{};
    time.wHour = 7;
    time.wMinute = 5;
    time.wSecond = 3;
    time.wMilliseconds = 9;
    EXPECT_EQ(log.FormatLine(time, L""), L"<4242> - 07:05.03.009 - ");
}

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0, WORD milliseconds = 0)
{
    return SYSTEMTIME{year, month, 0, day, hour, minute, second, milliseconds};
}

// Gives 23:59:59.999 on 31 December 2026 to its first reader (Log() stamping the
// line) and the first of January 2027 to every later one (the worker writing it):
// the line crosses midnight between the two, as no test can make the real clock do.
SYSTEMTIME ClockCrossingMidnight()
{
    static std::atomic<int> reads{0};
    return reads++ == 0 ? At(2026, 12, 31, 23, 59, 59, 999) : At(2027, 1, 1);
}

SYSTEMTIME FixedClock()
{
    return At(2026, 3, 7, 9, 8, 7, 6);
}

TEST_F(LogFolderFixture, NewFileStartsWithByteOrderMarkAndLinesEndWithCrLf)
{
    TTxtFileLog log(FFolder + L"plain", L".txt", false, FixedClock);
    log.SetPrefix(L"9");
    log.Log(L"first \u00e9\u958b");
    log.Log(L"two\nlines");
    ASSERT_TRUE(log.Drain(10000));
    EXPECT_EQ(ReadBytes(FFolder + L"plain.txt"), "\xEF\xBB\xBF"
                                                 "<9> - 09:08.07.006 - first \xC3\xA9\xE9\x96\x8B\r\n"
                                                 "<9> - 09:08.07.006 - two\nlines\r\n");
}

TEST_F(LogFolderFixture, LineStampedBeforeMidnightLandsInTheDayItIsWritten)
{
    TTxtFileLog log(FFolder + L"QX", L".log", true, ClockCrossingMidnight);
    log.SetPrefix(L"5");
    log.Log(L"late");
    log.Log(L"new day");
    ASSERT_TRUE(log.Drain(10000));
    EXPECT_EQ(ReadBytes(FFolder + L"QX_20270101.log"), "\xEF\xBB\xBF<5> - 23:59.59.999 - late\r\n"
                                                       "<5> - 00:00.00.000 - new day\r\n");
    EXPECT_EQ(GetFileAttributesW((FFolder + L"QX_20261231.log").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LogFolderFixture, EmptiedFileGetsByteOrderMarkAgain)
{
    TTxtFileLog log(FFolder + L"e", L".log", false, FixedClock);
    log.SetPrefix(L"6");
    log.Log(L"a");
    ASSERT_TRUE(log.Drain(10000));
    {
        std::ofstream truncate((FFolder + L"e.log").c_str(), std::ios::binary | std::ios::trunc);
    }
    log.Log(L"b");
    ASSERT_TRUE(log.Drain(10000));
    EXPECT_EQ(ReadBytes(FFolder + L"e.log"), "\xEF\xBB\xBF<6> - 09:08.07.006 - b\r\n");
}

TEST_F(LogFolderFixture, MissingFolderIsNeverCreated)
{
    TLogFileAppender file;
    EXPECT_THROW(file.Append(FFolder + L"missing\\x.log", "lost\r\n"), std::system_error);
    EXPECT_EQ(GetFileAttributesW((FFolder + L"missing").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Several bridges find the day's file missing at the same moment and create it
// together: one of them writes the byte-order mark, and no line is lost or torn.
TEST_F(LogFolderFixture, WritersCreatingTheFileTogetherWriteOneByteOrderMark)
{
    constexpr int Writers = 4;
    constexpr int Rounds = 20;
    for (int round = 0; round < Rounds; ++round)
    {
        std::wstring path = FFolder + L"race" + std::to_wstring(round) + L".log";
        std::atomic<int> ready{0};
        std::vector<std::thread> writers;
        for (int w = 0; w < Writers; ++w)
            writers.emplace_back([&, w] {
                TLogFileAppender file;
                ++ready;
                while (ready.load() < Writers)
                    std::this_thread::yield();
                file.Append(path, "writer " + std::to_string(w) + "\r\n");
                file.Append(path, "again " + std::to_string(w) + "\r\n");
            });
        for (auto& writer : writers)
            writer.join();

        std::string content = ReadBytes(path);
        ASSERT_EQ(content.rfind("\xEF\xBB\xBF", 0), 0u) << "round " << round;
        EXPECT_EQ(content.find("\xEF\xBB\xBF", 3), std::string::npos) << "round " << round;
        for (int w = 0; w < Writers; ++w)
        {
            std::size_t first = content.find("writer " + std::to_string(w) + "\r\n");
            std::size_t second = content.find("again " + std::to_string(w) + "\r\n");
            ASSERT_NE(first, std::string::npos) << "round " << round << " writer " << w;
            ASSERT_NE(second, std::string::npos) << "round " << round << " writer " << w;
            EXPECT_LT(first, second);
        }
        EXPECT_EQ(content.size(), 3u + Writers * (sizeof("writer 0\r\n") - 1 + sizeof("again 0\r\n") - 1));
    }
}

TEST_F(LogFolderFixture, LinesFromManyThreadsAllArriveInTheDaysFile)
{
    constexpr int Threads = 8;
    constexpr int LinesPerThread = 200;
    {
        TTxtFileLog log(FFolder + L"QX_PIPE_BRIDGE", L".log", true);
        log.SetPrefix(L"77");
        std::vector<std::thread> writers;
        for (int t = 0; t < Threads; ++t)
            writers.emplace_back([&log, t] {
                for (int i = 0; i < LinesPerThread; ++i)
                    log.Log(L"t" + std::to_wstring(t) + L" n" + std::to_wstring(i));
            });
        for (auto& writer : writers)
            writer.join();
        ASSERT_TRUE(log.Drain(30000));
    }

    std::string content = ReadBytes(TodaysFile(L"QX_PIPE_BRIDGE"));
    ASSERT_EQ(content.rfind("\xEF\xBB\xBF", 0), 0u);
    std::set<std::string> seen;
    std::vector<int> lastOfThread(Threads, -1);
    std::size_t start = 3;
    while (start < content.size())
    {
        std::size_t end = content.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        std::string line = content.substr(start, end - start);
        ASSERT_EQ(line.rfind("<77> - ", 0), 0u) << line;
        std::string text = line.substr(line.find(" - ", 7) + 3);
        int thread = std::stoi(text.substr(1));
        int number = std::stoi(text.substr(text.find('n') + 1));
        // One writer's lines keep the order in which it logged them.
        EXPECT_GT(number, lastOfThread[thread]);
        lastOfThread[thread] = number;
        seen.insert(text);
        start = end + 2;
    }
    EXPECT_EQ(seen.size(), std::size_t(Threads * LinesPerThread));
}

TEST_F(LogFolderFixture, LinesVanishWhileFolderIsMissingAndResumeOnceItExists)
{
    std::wstring folder = FFolder + L"Logs\\";
    TTxtFileLog log(folder + L"QX", L".log", true);
    log.SetPrefix(L"1");
    log.Log(L"before the folder");
    ASSERT_TRUE(log.Drain(10000));

    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    log.Log(L"after the folder");
    ASSERT_TRUE(log.Drain(10000));

    SYSTEMTIME now;
    GetLocalTime(&now);
    std::wstring file = TTxtFileLog::LogFileName(folder + L"QX", L".log", true, now);
    std::string content = ReadBytes(file);
    EXPECT_EQ(content.rfind("\xEF\xBB\xBF<1> - ", 0), 0u);
    EXPECT_EQ(content.find("before the folder"), std::string::npos);
    EXPECT_NE(content.find("after the folder"), std::string::npos);
    DeleteFileW(file.c_str());
    RemoveDirectoryW(folder.c_str());
}

// Another program that holds the file without sharing for a moment only delays
// the lines; one that holds it past the wait loses the lines of that burst, and
// the next burst is written once it lets go.
TEST_F(LogFolderFixture, FileHeldWithoutSharingIsWaitedForAShortWhile)
{
    TTxtFileLog log(FFolder + L"held", L".log", false);
    log.SetPrefix(L"2");
    log.Log(L"one");
    ASSERT_TRUE(log.Drain(10000));
    auto holdFile = [this] {
        return TUniqueHandle(CreateFileW((FFolder + L"held.log").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    {
        TUniqueHandle holder = holdFile();
        ASSERT_TRUE(holder);
        log.Log(L"during a moment");
        // The point of this pause: the file stays held for a moment, shorter than
        // the log waits for it.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    ASSERT_TRUE(log.Drain(10000));
    {
        TUniqueHandle holder = holdFile();
        ASSERT_TRUE(holder);
        ULONGLONG start = GetTickCount64();
        log.Log(L"while held too long");
        ASSERT_TRUE(log.Drain(10000));
        EXPECT_GE(GetTickCount64() - start, ULONGLONG(TLogFileAppender::HeldFileWaitMs) - 50);
    }
    log.Log(L"three");
    ASSERT_TRUE(log.Drain(10000));
    std::string content = ReadBytes(FFolder + L"held.log");
    EXPECT_NE(content.find("one"), std::string::npos);
    EXPECT_NE(content.find("during a moment"), std::string::npos);
    EXPECT_EQ(content.find("while held too long"), std::string::npos);
    EXPECT_NE(content.find("three"), std::string::npos);
}

// Once the queue is empty the file is closed: another program may then open it
// without sharing, and delete it.
TEST_F(LogFolderFixture, NothingHoldsTheFileOnceTheQueueIsEmpty)
{
    TTxtFileLog log(FFolder + L"free", L".log", false);
    log.SetPrefix(L"4");
    for (int i = 0; i < 500; ++i)
        log.Log(L"line " + std::to_wstring(i));
    ASSERT_TRUE(log.Drain(30000));
    {
        TUniqueHandle exclusive(CreateFileW((FFolder + L"free.log").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(exclusive) << GetLastError();
    }
    EXPECT_TRUE(DeleteFileW((FFolder + L"free.log").c_str())) << GetLastError();
}

TEST_F(LogFolderFixture, ReaderThatSharesWritingDoesNotLoseLines)
{
    TTxtFileLog log(FFolder + L"shared", L".log", false);
    log.SetPrefix(L"3");
    log.Log(L"one");
    ASSERT_TRUE(log.Drain(10000));
    TUniqueHandle reader(CreateFileW((FFolder + L"shared.log").c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader);
    log.Log(L"two");
    ASSERT_TRUE(log.Drain(10000));
    EXPECT_NE(ReadBytes(FFolder + L"shared.log").find("two"), std::string::npos);
}

// Wine does not keep a file's descriptor, so the day's file cannot show it; the
// descriptor that the bridge creates it with is asked instead. Its owner is set to
// LocalSystem, and this test's own user stands for the user of another session: a
// member of Authenticated Users, with Administrators made deny-only, since Wine's
// user is an administrator.
class LogFileSecurity : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FDescriptor = SecurityDescriptorFromSddl(std::wstring(L"O:SYG:SY") + TLogFileAppender::LogFileSecurity());
        FAdministrator = StandInToken(TStandIn::AsIs);
        FOtherUser = StandInToken(TStandIn::PlainUser);
    }

    // True when Token is granted all of Access.
    bool Granted(HANDLE Token, DWORD Access) const
    {
        return IsGrantedFileAccess(Token, FDescriptor.get(), Access);
    }

    TUniqueLocal<void> FDescriptor;
    TUniqueHandle FAdministrator;
    TUniqueHandle FOtherUser;
};

TEST_F(LogFileSecurity, AnotherUsersBridgeMayReadAndAppendButNotRewriteOrDelete)
{
    struct TCase
    {
        const char* What;
        DWORD Access;
        bool Granted;
    };
    const TCase cases[] = {
        // What the bridge opens the day's file with.
        {"read and append", FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_APPEND_DATA | SYNCHRONIZE, true},
        {"append", FILE_APPEND_DATA, true},
        {"generic read", GENERIC_READ, true},
        {"rewrite or truncate", FILE_WRITE_DATA, false},
        {"generic write", GENERIC_WRITE, false},
        {"delete", DELETE, false},
        {"change the permissions", WRITE_DAC, false},
        {"take ownership", WRITE_OWNER, false},
        {"change attributes", FILE_WRITE_ATTRIBUTES, false},
    };
    for (const TCase& row : cases)
        EXPECT_EQ(Granted(FOtherUser.Get(), row.Access), row.Granted) << row.What;
}

TEST_F(LogFileSecurity, AdministratorsHaveFullControl)
{
    EXPECT_TRUE(Granted(FAdministrator.Get(), FILE_ALL_ACCESS));
}

} // namespace
