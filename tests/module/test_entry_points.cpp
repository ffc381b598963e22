// The module as a host sees it: loaded at run time, driven through the
// function table and the stream interface's virtual slots.
#include "jxrtsp.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <string>

namespace {

// The host's side: a loaded module and its filled table.
class CLoadedModule {
public:
    CLoadedModule()
    {
#if !defined(_WIN32)
        m_Handle = dlopen(JX_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        if (m_Handle != nullptr)
            m_GetAPI = reinterpret_cast<JXRTSPGetAPIFunc>(dlsym(m_Handle, "JXRTSPGetAPI"));
#endif
    }
    ~CLoadedModule()
    {
#if !defined(_WIN32)
        if (m_Handle != nullptr)
            dlclose(m_Handle);
#endif
    }
    bool IsLoaded() const { return m_GetAPI != nullptr; }
    int FillTable(void** pTable) { return m_GetAPI(pTable); }

private:
    void* m_Handle = nullptr;
    JXRTSPGetAPIFunc m_GetAPI = nullptr;
};

void* const kSentinel = reinterpret_cast<void*>(uintptr_t(0x5A5A5A5A));

} // namespace

#if !defined(_WIN32)
TEST(ModuleLoading, TableIsFilledExceptTheReservedEntry)
{
    CLoadedModule module;
    ASSERT_TRUE(module.IsLoaded()) << dlerror();
    void* table[JXRTSP_API_COUNT] = {nullptr, nullptr, kSentinel, nullptr};
    ASSERT_EQ(module.FillTable(table), 0);
    EXPECT_NE(table[JXRTSP_API_INITIALIZE], nullptr);
    EXPECT_NE(table[JXRTSP_API_INVALIDATE], nullptr);
    EXPECT_EQ(table[JXRTSP_API_RESERVED], kSentinel);
    ASSERT_NE(table[JXRTSP_API_GETINTERFACE], nullptr);
    EXPECT_EQ(module.FillTable(nullptr), JX_ERR_ARG);

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
}
#endif

TEST(StreamFactory, AcceptsTheThreeSchemesInAnyCase)
{
    const char* const urls[] = {
        "rtsp://cam/live", "RTSP://cam/live", "rtspu://cam/live", "RtspM://cam:8554/x",
        "cam.local/live",         // no scheme: the check does not apply
        "192.168.1.10:554/ch1",
    };
    for (const char* pUrl : urls) {
        IJXStream* pStream = JXRTSPGetInterface("IJXStream", pUrl);
        EXPECT_NE(pStream, nullptr) << pUrl;
        if (pStream != nullptr)
            pStream->Release();
    }
}

TEST(StreamFactory, RefusesOtherNamesSchemesAndEmptyText)
{
    struct Case {
        const char* pName;
        const char* pUrl;
    };
    const Case cases[] = {
        {"IJXStream", "http://cam/live"},
        {"IJXStream", "rtsps://cam/live"},
        {"IJXStream", "http://cam:99999/live"},   // unreadable port: the scheme still counts
        {"ijxstream", "rtsp://cam/live"},
        {"IJXStreamX", "rtsp://cam/live"},
        {"IJXStrea", "rtsp://cam/live"},
        {"", "rtsp://cam/live"},
        {nullptr, "rtsp://cam/live"},
        {"IJXStream", ""},
        {"IJXStream", nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JXRTSPGetInterface(c.pName, c.pUrl), nullptr)
            << (c.pName ? c.pName : "(null)") << " " << (c.pUrl ? c.pUrl : "(null)");
    }
}

TEST(StreamInterface, UnsupportedOperationsAnswerWithoutSideEffects)
{
    IJXStream* pStream = JXRTSPGetInterface("IJXStream", "rtsp://127.0.0.1/x");
    ASSERT_NE(pStream, nullptr);

    EXPECT_EQ(pStream->Seek(5u), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->Seek(static_cast<const CJXTime*>(nullptr)), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->Pause(), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->Resume(), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->SwitchStream(1), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->SetKey("a", "b", "c"), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->MakeKeyFrame(), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->SetBitrate(1000000ull), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->SetPlayBackMode(1, 2), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->SetPlayBackSpeed(1, 2), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->Transparent(0, nullptr, 0, nullptr, 0), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->SetFisheyePos(tagPOINT{1, 2}), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->PTZControl(0, nullptr, 0, nullptr, 0, nullptr, 0), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->Skip(3), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->SetDirection(1), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->SetSkipMode(1), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->OnProgress(1, 2), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->SetPlaybackPos(0.5f), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->SetPlaybackPos(7ul), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->SetLocateFrame(7ul), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->IsPause(), 0);
    EXPECT_EQ(pStream->IsIndexCreated(), 0);
    EXPECT_EQ(pStream->GetBits(), 0);
    EXPECT_EQ(pStream->Close(), 0);

    unsigned long long nFrames = 42;
    EXPECT_EQ(pStream->GetFileTotalFrames(nFrames), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pStream->GetRecvTotalFrame(nFrames), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(nFrames, 42u);

    CPacket* const pMarker = reinterpret_cast<CPacket*>(uintptr_t(0x1000));
    CPacket* pOut = pMarker;
    EXPECT_EQ(pStream->GetLocateFrame(pOut), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pOut, pMarker);
    EXPECT_EQ(pStream->Read(pOut), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(pOut, pMarker);

    // The stream kind's own answers: no key frame and no description yet.
    EXPECT_EQ(pStream->GetLastIFrame(pOut), JX_ERR_STATE);
    EXPECT_EQ(pOut, nullptr);
    CJXMediaDesc* pDesc = reinterpret_cast<CJXMediaDesc*>(uintptr_t(0x1000));
    EXPECT_EQ(pStream->GetMediaDesc(pDesc), JX_ERR_STATE);
    EXPECT_EQ(pDesc, nullptr);

    EXPECT_EQ(pStream->Stop(), 0);       // never started: nothing to stop
    pStream->Release();
}

TEST(StreamInterface, ReferenceCountCountsButNeverDestroys)
{
    IJXStream* pStream = JXRTSPGetInterface("IJXStream", "rtsp://127.0.0.1/x");
    ASSERT_NE(pStream, nullptr);
    EXPECT_EQ(pStream->Acquire(), 2);
    EXPECT_EQ(pStream->Acquire(), 3);
    // The interface's own Release only counts down.
    EXPECT_EQ(pStream->IJXInterface::Release(), 2);
    EXPECT_EQ(pStream->IJXInterface::Release(), 1);
    EXPECT_EQ(pStream->IJXInterface::Release(), 0);
    EXPECT_EQ(pStream->Acquire(), 1);
    pStream->Release();
}

TEST(StreamInterface, OpenKeepsTheUrlAndRefusesUnreadableText)
{
    IJXStream* pStream = JXRTSPGetInterface("IJXStream", "rtsp://127.0.0.1/x");
    ASSERT_NE(pStream, nullptr);
    EXPECT_EQ(pStream->Open(static_cast<const char*>(nullptr)), JX_ERR_ARG);
    EXPECT_EQ(pStream->Open("rtsp://cam:70000/x"), JX_ERR_ARG);
    // Never opened successfully: Start refuses for lack of a host.
    EXPECT_EQ(pStream->Start(), JX_ERR_ARG);
    pStream->Release();
}
