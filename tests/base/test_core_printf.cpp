// JXPrintf: line format, bounds, the host sink, whole lines under threads,
// and the fatal-assertion path.
#include "JXPrintf.h"

#include <gtest/gtest.h>

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

// Length of a leading "YYYY-MM-DD HH:MM:SS.mmm " stamp, or 0 when there is none.
size_t StampLength(const std::string& line)
{
    const char* kPattern = "dddd-dd-dd dd:dd:dd.ddd ";
    const size_t nLength = strlen(kPattern);
    if (line.size() < nLength) {
        return 0;
    }
    for (size_t i = 0; i < nLength; ++i) {
        const bool bDigit = line[i] >= '0' && line[i] <= '9';
        if (kPattern[i] == 'd' ? !bDigit : line[i] != kPattern[i]) {
            return 0;
        }
    }
    return nLength;
}

// The line without its time stamp; fails the test if the stamp is missing.
std::string Body(const std::string& line)
{
    const size_t nStamp = StampLength(line);
    EXPECT_NE(nStamp, 0u) << line.substr(0, 40);
    return line.substr(nStamp);
}

TEST_F(CorePrintf, OneStampedLinePerCall)
{
    JXPrintf("RTSP Client(%s): OnStart.\n", "rtsp://10.0.0.1/live");
    JXPrintf("no line feed %d", 42);
    JXPrintf("%s", "");
    ASSERT_EQ(m_Lines.m_Lines.size(), 3u);
    EXPECT_EQ(Body(m_Lines.m_Lines[0]), "RTSP Client(rtsp://10.0.0.1/live): OnStart.\n");
    EXPECT_EQ(Body(m_Lines.m_Lines[1]), "no line feed 42\n");
    EXPECT_EQ(Body(m_Lines.m_Lines[2]), "\n");
    EXPECT_EQ(m_Lines.m_Lines[0].size(), 24 + strlen("RTSP Client(rtsp://10.0.0.1/live): OnStart.\n"));
}

TEST_F(CorePrintf, LongTextIsCutToOneBoundedLine)
{
    const std::string big(100000, 'x');
    JXPrintf("%s\n", big.c_str());
    ASSERT_EQ(m_Lines.m_Lines.size(), 1u);
    const std::string& line = m_Lines.m_Lines[0];
    EXPECT_LE(line.size(), 4095u);
    EXPECT_GT(line.size(), 4000u);
    EXPECT_EQ(line.back(), '\n');
    const std::string body = Body(line);
    EXPECT_EQ(body.find_first_not_of('x'), body.size() - 1);
}

TEST_F(CorePrintf, CutNeverSplitsAUtf8Character)
{
    // Every offset of the cut against 2-, 3- and 4-byte characters.
    const char* chars[] = {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x93\xb7"};
    for (const char* pChar : chars) {
        for (int32_t nPrefix = 0; nPrefix < 4; ++nPrefix) {
            m_Lines.m_Lines.clear();
            std::string text(static_cast<size_t>(nPrefix), 'a');
            while (text.size() < 5000) {
                text += pChar;
            }
            JXPrintf("%s", text.c_str());
            ASSERT_EQ(m_Lines.m_Lines.size(), 1u);
            std::string body = Body(m_Lines.m_Lines[0]);
            ASSERT_EQ(body.back(), '\n');
            body.pop_back();
            const std::string prefix(static_cast<size_t>(nPrefix), 'a');
            ASSERT_EQ(body.compare(0, prefix.size(), prefix), 0);
            // What follows the prefix is whole characters only.
            EXPECT_EQ((body.size() - prefix.size()) % strlen(pChar), 0u) << nPrefix;
        }
    }
}

TEST_F(CorePrintf, NullFormatIsIgnored)
{
    JXPrintf(nullptr);
    EXPECT_TRUE(m_Lines.m_Lines.empty());
}

// Counts calls made after it was replaced.
struct CSwapWatch {
    std::atomic<bool> m_Replaced{false};
    std::atomic<int32_t> m_Late{0};
    std::atomic<int32_t> m_Calls{0};
};

void WatchSink(const char*, void* pUser)
{
    CSwapWatch* pWatch = static_cast<CSwapWatch*>(pUser);
    if (pWatch->m_Replaced.load()) {
        ++pWatch->m_Late;
    }
    ++pWatch->m_Calls;
}

TEST_F(CorePrintf, SinkSwapUnderLoad)
{
    CSwapWatch watches[8];
    std::atomic<bool> bStop{false};
    std::vector<std::thread> loggers;
    for (int32_t t = 0; t < 3; ++t) {
        loggers.emplace_back([&bStop, t] {
            while (!bStop.load()) {
                JXPrintf("thread %d", t);
            }
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
    for (std::thread& t : loggers) {
        t.join();
    }
    for (CSwapWatch& w : watches) {
        EXPECT_EQ(w.m_Late.load(), 0);
    }
}

TEST(CorePrintfStdErr, LinesFromThreadsDoNotInterleave)
{
    // Send standard error to a file while several threads log long lines.
    FILE* pFile = tmpfile();
    ASSERT_NE(pFile, nullptr);
    const int nFile = fileno(pFile);
    fflush(stderr);
    const int nSaved = dup(2);
    ASSERT_GE(nSaved, 0);
    ASSERT_GE(dup2(nFile, 2), 0);

    constexpr int32_t kThreads = 4;
    constexpr int32_t kLines = 300;
    std::vector<std::thread> threads;
    for (int32_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string pad(1000 + t * 100, static_cast<char>('a' + t));
            for (int32_t i = 0; i < kLines; ++i) {
                JXPrintf("T%d %d %s\n", t, i, pad.c_str());
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    dup2(nSaved, 2);
    close(nSaved);

    std::string all;
    char buf[65536];
    lseek(nFile, 0, SEEK_SET);
    for (;;) {
        const ssize_t n = read(nFile, buf, sizeof(buf));
        if (n <= 0) {
            break;
        }
        all.append(buf, static_cast<size_t>(n));
    }
    fclose(pFile);

    // Every line: stamp, "T<thread> <index> <pad>", in order per thread.
    int32_t nCount[kThreads] = {};
    size_t nPos = 0;
    while (nPos < all.size()) {
        const size_t nEnd = all.find('\n', nPos);
        ASSERT_NE(nEnd, std::string::npos);
        const std::string body = Body(all.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
        int nThread = -1;
        int nIndex = -1;
        int nUsed = 0;
        ASSERT_EQ(sscanf(body.c_str(), "T%d %d %n", &nThread, &nIndex, &nUsed), 2) << body.substr(0, 40);
        ASSERT_GE(nThread, 0);
        ASSERT_LT(nThread, kThreads);
        EXPECT_EQ(nIndex, nCount[nThread]);
        EXPECT_EQ(body.substr(static_cast<size_t>(nUsed)),
                  std::string(static_cast<size_t>(1000 + nThread * 100), static_cast<char>('a' + nThread)));
        ++nCount[nThread];
    }
    for (int32_t t = 0; t < kThreads; ++t) {
        EXPECT_EQ(nCount[t], kLines);
    }
}

TEST(CorePrintfDeathTest, AssertPtrLogsAndAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(JXAbort(), "");
    const char* pNull = nullptr;
    EXPECT_DEATH(JX_ASSERT_PTR(pNull, "src/x.cpp", "Parse"), R"(src/x\.cpp====>\(Func = Parse, line = .+\))");
}

}  // namespace
