// JXPrintf: line format, bounds, the host sink, whole lines under threads,
// and the fatal-assertion path.
#include "JXPrintf.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

// Collects the lines handed to the sink.
struct CLines {
    std::mutex m_Mutex;
    std::vector<std::string> m_Lines;
};

void CollectSink(const char* pLine, void* pUser)
{
    CLines* pLines = static_cast<CLines*>(pUser);
    std::lock_guard<std::mutex> lock(pLines->m_Mutex);
    pLines->m_Lines.emplace_back(pLine);
}

class CorePrintf : public ::testing::Test {
protected:
    void SetUp() override { JXSetLogSink(&CollectSink, &m_Lines); }
    void TearDown() override { JXSetLogSink(nullptr, nullptr); }
    CLines m_Lines;
};

// The line without its "YYYY-MM-DD HH:MM:SS.mmm " stamp; fails the test if the
// stamp is missing.
std::string Body(const std::string& line)
{
    const std::string kPattern = "dddd-dd-dd dd:dd:dd.ddd ";
    bool bStamped = line.size() >= kPattern.size();
    for (size_t i = 0; bStamped && i < kPattern.size(); ++i)
        bStamped = kPattern[i] == 'd' ? (line[i] >= '0' && line[i] <= '9') : line[i] == kPattern[i];
    EXPECT_TRUE(bStamped) << line.substr(0, 40);
    return bStamped ? line.substr(kPattern.size()) : line;
}

TEST_F(CorePrintf, OneStampedBoundedLinePerCall)
{
    JXPrintf("RTSP Client(%s): OnStart.\n", "rtsp://10.0.0.1/live");
    JXPrintf("no line feed %d", 42);
    JXPrintf("%s", "");
    JXPrintf(nullptr);   // ignored
    ASSERT_EQ(m_Lines.m_Lines.size(), 3u);
    EXPECT_EQ(Body(m_Lines.m_Lines[0]), "RTSP Client(rtsp://10.0.0.1/live): OnStart.\n");
    EXPECT_EQ(Body(m_Lines.m_Lines[1]), "no line feed 42\n");
    EXPECT_EQ(Body(m_Lines.m_Lines[2]), "\n");
    EXPECT_EQ(m_Lines.m_Lines[0].size(), 24 + strlen("RTSP Client(rtsp://10.0.0.1/live): OnStart.\n"));

    // Long text is cut to one bounded line, never inside a UTF-8 character:
    // every offset of the cut against 1-, 2-, 3- and 4-byte characters.
    for (const char* pChar : {"x", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x93\xb7"}) {
        for (size_t nPrefix = 0; nPrefix < 4; ++nPrefix) {
            SCOPED_TRACE(std::to_string(strlen(pChar)) + "-byte characters after " + std::to_string(nPrefix));
            m_Lines.m_Lines.clear();
            const std::string prefix(nPrefix, 'a');
            std::string text = prefix;
            while (text.size() < 100000)
                text += pChar;
            JXPrintf("%s\n", text.c_str());
            ASSERT_EQ(m_Lines.m_Lines.size(), 1u);
            EXPECT_LE(m_Lines.m_Lines[0].size(), 4095u);
            EXPECT_GT(m_Lines.m_Lines[0].size(), 4000u);
            std::string body = Body(m_Lines.m_Lines[0]);
            ASSERT_EQ(body.back(), '\n');
            body.pop_back();
            ASSERT_EQ(body.compare(0, prefix.size(), prefix), 0);
            // What follows the prefix is whole characters only.
            EXPECT_EQ((body.size() - prefix.size()) % strlen(pChar), 0u);
            EXPECT_EQ(body.substr(prefix.size(), strlen(pChar)), pChar);
        }
    }
}

// Counts calls made after it was replaced.
struct CSwapWatch {
    std::atomic<bool> m_Replaced{false};
    std::atomic<int32_t> m_Late{0};
};

void WatchSink(const char*, void* pUser)
{
    CSwapWatch* pWatch = static_cast<CSwapWatch*>(pUser);
    if (pWatch->m_Replaced.load()) ++pWatch->m_Late;
}

TEST_F(CorePrintf, SinkSwapUnderLoad)
{
    CSwapWatch watches[8];
    std::atomic<bool> bStop{false};
    std::vector<std::thread> loggers;
    for (int32_t t = 0; t < 3; ++t) {
        loggers.emplace_back([&bStop, t] {
            while (!bStop.load())
                JXPrintf("thread %d", t);
        });
    }
    for (CSwapWatch& w : watches) {
        JXSetLogSink(&WatchSink, &w);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        JXSetLogSink(&CollectSink, &m_Lines);
        w.m_Replaced = true;   // from here on this sink must stay silent
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    bStop = true;
    for (std::thread& t : loggers)
        t.join();
    for (CSwapWatch& w : watches)
        EXPECT_EQ(w.m_Late.load(), 0);
}

// Standard error goes to a file while several threads log long lines: every
// line whole, stamped, and in order per thread.
TEST(CorePrintfStdErr, LinesFromThreadsDoNotInterleave)
{
    FILE* pFile = tmpfile();
    ASSERT_NE(pFile, nullptr);
    fflush(stderr);
    const int nSaved = dup(2);
    ASSERT_GE(nSaved, 0);
    ASSERT_GE(dup2(fileno(pFile), 2), 0);
    constexpr int32_t kThreads = 4;
    constexpr int32_t kLines = 300;
    auto pad = [](int32_t t) { return std::string(size_t(1000 + t * 100), static_cast<char>('a' + t)); };
    std::vector<std::thread> threads;
    for (int32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &pad] {
            for (int32_t i = 0; i < kLines; ++i)
                JXPrintf("T%d %d %s\n", t, i, pad(t).c_str());
        });
    }
    for (std::thread& th : threads)
        th.join();
    dup2(nSaved, 2);
    close(nSaved);
    std::string all;
    char buf[65536];
    rewind(pFile);
    for (size_t n; (n = fread(buf, 1, sizeof(buf), pFile)) > 0;)
        all.append(buf, n);
    fclose(pFile);

    int32_t nCount[kThreads] = {};
    for (size_t nPos = 0, nEnd; nPos < all.size(); nPos = nEnd + 1) {
        nEnd = all.find('\n', nPos);
        ASSERT_NE(nEnd, std::string::npos);
        const std::string body = Body(all.substr(nPos, nEnd - nPos));
        int nThread = -1;
        int nIndex = -1;
        int nUsed = 0;
        ASSERT_EQ(sscanf(body.c_str(), "T%d %d %n", &nThread, &nIndex, &nUsed), 2) << body.substr(0, 40);
        ASSERT_TRUE(nThread >= 0 && nThread < kThreads) << nThread;
        EXPECT_EQ(nIndex, nCount[nThread]++);
        EXPECT_EQ(body.substr(static_cast<size_t>(nUsed)), pad(nThread));
    }
    for (int32_t t = 0; t < kThreads; ++t)
        EXPECT_EQ(nCount[t], kLines);
}

TEST(CorePrintfDeathTest, AssertPtrLogsAndAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(JXAbort(), "");
    const char* pNull = nullptr;
    EXPECT_DEATH(JX_ASSERT_PTR(pNull, "src/x.cpp", "Parse"), R"(src/x\.cpp====>\(Func = Parse, line = .+\))");
}

}   // namespace
