// The module as a host drives it, ended while a camera's name is still being
// looked up: once the stream is released, JXRTSPInvalidate has returned and
// the module is unloaded, no thread of ours is left running.
#include "jxrtsp.h"
#include "stand_in_names.h"
#include "test_wait.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>

namespace {

int CountThreads()
{
    DIR* pDir = opendir("/proc/self/task");
    if (pDir == nullptr) return -1;
    int n = 0;
    while (dirent* pEntry = readdir(pDir))
        n += pEntry->d_name[0] != '.' ? 1 : 0;
    closedir(pDir);
    return n;
}

}   // namespace

TEST(ModuleUnload, NoThreadOutlivesTheModuleDuringASlowLookup)
{
    CNameGuard guard;
    CNameService& names = guard.m_Names;
    const int nBefore = CountThreads();
    const int nStarted = names.m_Calls.load();
    void* pModule = dlopen(JX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(pModule, nullptr) << dlerror();
    auto pGetAPI = reinterpret_cast<JXRTSPGetAPIFunc>(dlsym(pModule, "JXRTSPGetAPI"));
    ASSERT_NE(pGetAPI, nullptr);
    void* table[JXRTSP_API_COUNT] = {};
    ASSERT_EQ(pGetAPI(table), 0);
    auto pGetInterface = reinterpret_cast<JXRTSPGetInterfaceFunc>(table[JXRTSP_API_GETINTERFACE]);
    auto pInvalidate = reinterpret_cast<JXRTSPInvalidateFunc>(table[JXRTSP_API_INVALIDATE]);
    IJXStream* pStream = pGetInterface("IJXStream", "rtsp://camera.slow/live");
    ASSERT_NE(pStream, nullptr);
    ASSERT_EQ(pStream->Open("rtsp://camera.slow/live"), 0);
    ASSERT_EQ(pStream->Start(), 0);
    WaitFor([&] { return names.m_Calls.load() != nStarted; });
    ASSERT_EQ(names.m_Active.load(), 1);
    EXPECT_GT(CountThreads(), nBefore);   // the worker and the lookup's thread
    pStream->Release();
    EXPECT_EQ(pInvalidate(), 0);
    EXPECT_EQ(dlclose(pModule), 0);
    EXPECT_EQ(names.m_Active.load(), 0);
    // Every thread was joined before dlclose returned; the kernel may list a
    // joined thread a moment longer, so the count is waited for.
    WaitFor([&] { return CountThreads() == nBefore; });
    EXPECT_EQ(CountThreads(), nBefore);
}
