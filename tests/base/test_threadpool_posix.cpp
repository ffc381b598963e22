// Pool threads carry the pool's name, cut to the 15 characters Linux takes.
// Linux only (the file name keeps it out of the Windows build).
#include "JXThreadPool.h"

#include "test_wait.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

class CNameReader : public CJXObject {
public:
    int OnWork(CJXMessageT*, unsigned int, unsigned int&)
    {
        if (!m_Done) pthread_getname_np(pthread_self(), m_Name, sizeof(m_Name));
        m_Done = true;   // publishes m_Name
        return 0;
    }
    char m_Name[64] = {0};
    std::atomic<bool> m_Done{false};
};

TEST(ThreadPoolPosix, ThreadsAreNamed)
{
    CJXThreadPool pool(1, "AVeryLongPoolNameIndeed");
    CNameReader reader;
    ASSERT_EQ(pool.Attach(&reader, JX_WORK_FUNC(&CNameReader::OnWork)), JX_OK);
    WaitFor([&] { return reader.m_Done.load(); });
    pool.Detach(&reader, JX_WORK_FUNC(&CNameReader::OnWork));
    ASSERT_TRUE(reader.m_Done);
    EXPECT_STREQ(reader.m_Name, "AVeryLongPoolNa");
}

}   // namespace
