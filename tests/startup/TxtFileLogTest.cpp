#include "startup/GF_SupportFunctions.h"
#include "startup/UN_TxtFileLog.h"
#include "startup/WinHandle.h"

#include <gtest/gtest.h>

#include <windows.h>

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

    std::string ReadBytes(const std::wstring& path)
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

    static SYSTEMTIME Today()
    {
        SYSTEMTIME now;
        GetLocalTime(&now);
        return now;
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

TEST_F(LogFolderFixture, NewFileStartsWithByteOrderMarkAndLinesEndWithCrLf)
{
    TTxtFileLog::WriteLogLine(FFolder + L"plain", L".txt", L"first \u00e9\u958b", false, Today());
    TTxtFileLog::WriteLogLine(FFolder + L"plain", L".txt", L"two\nlines", false, Today());
    EXPECT_EQ(ReadBytes(FFolder + L"plain.txt"),
              "\xEF\xBB\xBF" "first \xC3\xA9\xE9\x96\x8B\r\n" "two\nlines\r\n");
}

TEST_F(LogFolderFixture, LineStampedBeforeMidnightLandsInTheDayItIsWritten)
{
    TTxtFileLog log(FFolder + L"QX", L".log", true);
    log.SetPrefix(L"5");
    SYSTEMTIME stamped{};
    stamped.wYear = 2026;
    stamped.wMonth = 12;
    stamped.wDay = 31;
    stamped.wHour = 23;
    stamped.wMinute = 59;
    stamped.wSecond = 59;
    stamped.wMilliseconds = 999;
    SYSTEMTIME written{};
    written.wYear = 2027;
    written.wMonth = 1;
    written.wDay = 1;
    TTxtFileLog::WriteLogLine(FFolder + L"QX", L".log", log.FormatLine(stamped, L"late"), true, written);
    EXPECT_EQ(ReadBytes(FFolder + L"QX_20270101.log"), "\xEF\xBB\xBF<5> - 23:59.59.999 - late\r\n");
    EXPECT_EQ(GetFileAttributesW((FFolder + L"QX_20261231.log").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LogFolderFixture, EmptiedFileGetsByteOrderMarkAgain)
{
    TTxtFileLog::WriteLogLine(FFolder + L"e", L".log", L"a", false, Today());
    {
        std::ofstream truncate((FFolder + L"e.log").c_str(), std::ios::binary | std::ios::trunc);
    }
    TTxtFileLog::WriteLogLine(FFolder + L"e", L".log", L"b", false, Today());
    EXPECT_EQ(ReadBytes(FFolder + L"e.log"), "\xEF\xBB\xBF" "b\r\n");
}

TEST_F(LogFolderFixture, MissingFolderIsNeverCreated)
{
    std::wstring missing = FFolder + L"missing\\x";
    EXPECT_THROW(TTxtFileLog::WriteLogLine(missing, L".log", L"lost", false, Today()), std::system_error);
    EXPECT_EQ(GetFileAttributesW((FFolder + L"missing").c_str()), INVALID_FILE_ATTRIBUTES);
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

TEST_F(LogFolderFixture, FileHeldWithoutSharingDropsLinesThenWritingResumes)
{
    TTxtFileLog log(FFolder + L"held", L".log", false);
    log.SetPrefix(L"2");
    log.Log(L"one");
    ASSERT_TRUE(log.Drain(10000));
    {
        TUniqueHandle holder(CreateFileW((FFolder + L"held.log").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        log.Log(L"two");
        ASSERT_TRUE(log.Drain(10000));
    }
    log.Log(L"three");
    ASSERT_TRUE(log.Drain(10000));
    std::string content = ReadBytes(FFolder + L"held.log");
    EXPECT_NE(content.find("one"), std::string::npos);
    EXPECT_EQ(content.find("two"), std::string::npos);
    EXPECT_NE(content.find("three"), std::string::npos);
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

} // namespace
