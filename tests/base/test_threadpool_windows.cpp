// Pool threads carry the pool's name on Windows too (SetThreadDescription),
// cut to the same 15 characters as on Linux.
#include "JXThreadPool.h"

#include "test_wait.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

typedef HRESULT(WINAPI* GetThreadDescriptionFunc)(HANDLE, PWSTR*);

// The description of the calling thread, or "(none)" where the system has no
// thread descriptions.
std::string CurrentThreadName()
{
    auto pGet = reinterpret_cast<GetThreadDescriptionFunc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
    if (pGet == nullptr) return "(none)";
    PWSTR pWide = nullptr;
    if (FAILED(pGet(GetCurrentThread(), &pWide)) || pWide == nullptr) return "(failed)";
    char name[64] = {0};
    WideCharToMultiByte(CP_UTF8, 0, pWide, -1, name, sizeof(name) - 1, nullptr, nullptr);
    LocalFree(pWide);
    return name;
}

class CNameReader : public CJXObject {
public:
    int OnWork(CJXMessageT*, unsigned int, unsigned int&)
    {
        if (!m_Done) m_Name = CurrentThreadName();
        m_Done = true;   // publishes m_Name
        return 0;
    }
    std::string m_Name;
    std::atomic<bool> m_Done{false};
};

TEST(ThreadPoolWindows, ThreadsAreNamed)
{
    if (CurrentThreadName() == "(none)") GTEST_SKIP() << "this system has no thread descriptions";
    CJXThreadPool pool(1, "AVeryLongPoolNameIndeed");
    CNameReader reader;
    ASSERT_EQ(pool.Attach(&reader, JX_WORK_FUNC(&CNameReader::OnWork)), JX_OK);
    WaitFor([&] { return reader.m_Done.load(); });
    pool.Detach(&reader, JX_WORK_FUNC(&CNameReader::OnWork));
    ASSERT_TRUE(reader.m_Done);
    EXPECT_EQ(reader.m_Name, "AVeryLongPoolNa");
}

}   // namespace
