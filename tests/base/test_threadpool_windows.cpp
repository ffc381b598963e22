// Pool threads carry the pool's name on Windows too (SetThreadDescription),
// cut to the same 15 characters as on Linux.
#include "JXThreadPool.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

namespace {

typedef HRESULT(WINAPI* GetThreadDescriptionFunc)(HANDLE, PWSTR*);

// The description of the calling thread, or "(none)" where the system has no
// thread descriptions.
std::string CurrentThreadName()
{
    HMODULE hKernel = GetModuleHandleW(L"kernel32.dll");
    auto pGet = reinterpret_cast<GetThreadDescriptionFunc>(
        reinterpret_cast<void*>(GetProcAddress(hKernel, "GetThreadDescription")));
    if (pGet == nullptr)
        return "(none)";
    PWSTR pWide = nullptr;
    if (FAILED(pGet(GetCurrentThread(), &pWide)) || pWide == nullptr)
        return "(failed)";
    char name[64] = {0};
    WideCharToMultiByte(CP_UTF8, 0, pWide, -1, name, sizeof(name) - 1, nullptr, nullptr);
    LocalFree(pWide);
    return name;
}

class CNameReader : public CJXObject {
public:
    int OnWork(CJXMessageT*, unsigned int, unsigned int& nWait)
    {
        std::string name = CurrentThreadName();
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
    if (pool.Attach(&reader, JX_WORK_FUNC(&CNameReader::OnWork)) != JX_OK)
        return "(attach failed)";
    auto t0 = std::chrono::steady_clock::now();
    while (!reader.m_Done && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(2))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pool.Detach(&reader, JX_WORK_FUNC(&CNameReader::OnWork));
    return reader.Name();
}

TEST(ThreadPoolWindows, ThreadsAreNamed)
{
    if (CurrentThreadName() == "(none)")
        GTEST_SKIP() << "this system has no thread descriptions";
    EXPECT_EQ(NameSeenBy("RTSPSocket"), "RTSPSocket");
    EXPECT_EQ(NameSeenBy("AVeryLongPoolNameIndeed"), "AVeryLongPoolNa");
}

} // namespace
