// The module as a host sees it: loaded at run time, driven through the
// function table and the stream interface's virtual slots.
#include "jxrtsp.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#  include <dlfcn.h>
#endif

#include <string>

namespace {

void* const kSentinel = reinterpret_cast<void*>(uintptr_t(0x5A5A5A5A));

}   // namespace

#if !defined(_WIN32)
TEST(ModuleLoading, TableIsFilledExceptTheReservedEntry)
{
    void* pModule = dlopen(JX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(pModule, nullptr) << dlerror();
    auto pGetAPI = reinterpret_cast<JXRTSPGetAPIFunc>(dlsym(pModule, "JXRTSPGetAPI"));
    ASSERT_NE(pGetAPI, nullptr);
    void* table[JXRTSP_API_COUNT] = {nullptr, nullptr, kSentinel, nullptr};
    ASSERT_EQ(pGetAPI(table), 0);
    EXPECT_NE(table[JXRTSP_API_INITIALIZE], nullptr);
    EXPECT_NE(table[JXRTSP_API_INVALIDATE], nullptr);
    EXPECT_EQ(table[JXRTSP_API_RESERVED], kSentinel);
    ASSERT_NE(table[JXRTSP_API_GETINTERFACE], nullptr);
    EXPECT_EQ(pGetAPI(nullptr), JX_ERR_ARG);

    auto pInit = reinterpret_cast<JXRTSPInitializeFunc>(table[JXRTSP_API_INITIALIZE]);
    auto pInvalidate = reinterpret_cast<JXRTSPInvalidateFunc>(table[JXRTSP_API_INVALIDATE]);
    auto pGet = reinterpret_cast<JXRTSPGetInterfaceFunc>(table[JXRTSP_API_GETINTERFACE]);
    EXPECT_EQ(pInit(), 0);

    IJXStream* pStream = pGet("IJXStream", "rtsp://127.0.0.1:8554/live");
    ASSERT_NE(pStream, nullptr);
    EXPECT_STREQ(pStream->GetName(), "IJXStream");
    EXPECT_STREQ(pStream->GetProtocol(), "rtsp");
    EXPECT_EQ(pStream->Acquire(), 2);
    EXPECT_EQ(pStream->Release(), 0);   // the stream's Release ends it whatever the count
    EXPECT_EQ(pInvalidate(), 0);
    EXPECT_EQ(dlclose(pModule), 0);
}
#endif

// Which names and URLs get a stream object; an object got opens only a
// readable URL and starts only with a host.
TEST(StreamFactory, NamesAndSchemes)
{
    const struct {
        const char* m_Name;
        const char* m_Url;
        bool m_Stream;
    } kRows[] = {
        // No scheme: the check does not apply. An unreadable port: the scheme still counts.
        {"IJXStream", "rtsp://cam/live", true},
        {"IJXStream", "RTSP://cam/live", true},
        {"IJXStream", "rtspu://cam/live", true},
        {"IJXStream", "RtspM://cam:8554/x", true},
        {"IJXStream", "cam.local/live", true},
        {"IJXStream", "192.168.1.10:554/ch1", true},
        {"IJXStream", "http://cam/live", false},
        {"IJXStream", "rtsps://cam/live", false},
        {"IJXStream", "http://cam:99999/live", false},
        {"ijxstream", "rtsp://cam/live", false},
        {"IJXStreamX", "rtsp://cam/live", false},
        {"IJXStrea", "rtsp://cam/live", false},
        {"", "rtsp://cam/live", false},
        {nullptr, "rtsp://cam/live", false},
        {"IJXStream", "", false},
        {"IJXStream", nullptr, false},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(std::string(row.m_Name ? row.m_Name : "(null)") + " " + (row.m_Url ? row.m_Url : "(null)"));
        IJXStream* pStream = JXRTSPGetInterface(row.m_Name, row.m_Url);
        EXPECT_EQ(pStream != nullptr, row.m_Stream);
        if (pStream == nullptr) continue;
        EXPECT_EQ(pStream->Open(static_cast<const char*>(nullptr)), JX_ERR_ARG);
        EXPECT_EQ(pStream->Open("rtsp://cam:70000/x"), JX_ERR_ARG);
        EXPECT_EQ(pStream->Start(), JX_ERR_ARG);   // never opened: no host to start with
        pStream->Release();
    }
}
