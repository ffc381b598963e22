// Pool threads carry the pool's name, cut to the 15 characters Linux takes.
// Linux only (the file name keeps it out of the Windows build).
#include "JXThreadPool.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace {

class CNameReader : public CJXObject {
public:
    int OnWork(CJXMessageT*, unsigned int, unsigned int& nWait)
    {
        char name[64] = {0};
        pthread_getname_np(pthread_self(), name, sizeof(name));
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Name = name;
        }
        m_Done = true;
        nWait = 5;
        return 0;
    }
    std::string Name()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Name;
    }

    std::atomic<bool> m_Done{false};
    std::mutex m_Mutex;
    std::string m_Name;
};

std::string NameSeenBy(const char* pPoolName)
{
    CJXThreadPool pool(1, pPoolName);
    CNameReader reader;
    if (pool.Attach(&reader, JX_WORK_FUNC(&CNameReader::OnWork)) != JX_OK) return "(attach failed)";
    auto t0 = std::chrono::steady_clock::now();
    while (!reader.m_Done && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(2)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    pool.Detach(&reader, JX_WORK_FUNC(&CNameReader::OnWork));
    return reader.Name();
}

TEST(ThreadPoolPosix, ThreadsAreNamed)
{
    EXPECT_EQ(NameSeenBy("RTSPSocket"), "RTSPSocket");
    EXPECT_EQ(NameSeenBy("AVeryLongPoolNameIndeed"), "AVeryLongPoolNa");
}

} // namespace
