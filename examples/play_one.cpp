// The smallest host: loads the module at run time, plays one stream for a few
// seconds and counts its frames. The README shows this file; it is built with
// the project (build/bin/play_one URL [SECONDS]) so that the example always
// compiles against the current headers, and on its own against the installed
// package (examples/CMakeLists.txt).
#include "JXBase.h"
#include "jxrtsp.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

const size_t kPathBytes = 1024;

class CMyHost : public CJXObject {
public:
    // Called on the module's worker thread, never on the host's.
    int OnStream(CJXObject* /*pSender*/, uint32_t nCode, void* pParam1, void* /*pParam2*/)
    {
        if (nCode == JXRTSP_MSG_FRAME) {   // valid during the call only
            const CPacket* pFrame = static_cast<const CPacket*>(pParam1);
            m_Frames++;
            if (pFrame->FrameIsKey()) m_KeyFrames++;
            m_Bytes += pFrame->FrameGetLength();   // FrameGetData() holds the bytes
        } else if (nCode == JXRTSP_MSG_STATE || nCode == JXRTSP_MSG_STOPPED) {
            // JXRTSP_REPORT_*: playing, no data, failure, credentials refused
            m_LastError = pParam1 != nullptr ? static_cast<CJXMsg*>(pParam1)->GetError() : 0;
        }
        return 0;
    }

    std::atomic<uint64_t> m_Frames{0};
    std::atomic<uint64_t> m_KeyFrames{0};
    std::atomic<uint64_t> m_Bytes{0};
    std::atomic<int32_t> m_LastError{0};
};

}   // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: play_one URL [SECONDS]\n");
        return 2;
    }
    const int nSeconds = argc > 2 ? atoi(argv[2]) : 5;

    // The module beside this program (libJXRtsp.so, or JXRtsp.dll on Windows),
    // or where the installed package put it.
    char path[2 * kPathBytes] = {};
#ifdef JXRTSP_MODULE_PATH
    snprintf(path, sizeof(path), "%s", JXRTSP_MODULE_PATH);
#else
    char dir[kPathBytes] = {};
    char name[kPathBytes] = {};
    JXModuleProgramDir(dir, sizeof(dir));
    JXModuleFileName("JXRtsp", name, sizeof(name));
    snprintf(path, sizeof(path), "%s/%s", dir, name);
#endif
    char error[256] = {};
    void* pModule = JXModuleLoad(path, error, sizeof(error));   // the platform's loader
    if (pModule == nullptr) {
        fprintf(stderr, "cannot load %s: %s\n", path, error);
        return 1;
    }
    auto pGetAPI = reinterpret_cast<JXRTSPGetAPIFunc>(JXModuleSymbol(pModule, "JXRTSPGetAPI"));
    void* table[JXRTSP_API_COUNT] = {};
    if (pGetAPI == nullptr || pGetAPI(table) != JX_OK) {
        fprintf(stderr, "%s has no usable JXRTSPGetAPI\n", path);
        JXModuleUnload(pModule);
        return 1;
    }
    reinterpret_cast<JXRTSPInitializeFunc>(table[JXRTSP_API_INITIALIZE])();
    auto pGetInterface = reinterpret_cast<JXRTSPGetInterfaceFunc>(table[JXRTSP_API_GETINTERFACE]);

    CMyHost host;
    IJXStream* pStream = pGetInterface("IJXStream", argv[1]);
    if (pStream == nullptr) {
        fprintf(stderr, "the module refused the URL\n");
        JXModuleUnload(pModule);
        return 1;
    }
    pStream->Attach(&host, JX_SIGNAL_FUNC(&CMyHost::OnStream));
    pStream->Open(argv[1]);
    pStream->Start();
    std::this_thread::sleep_for(std::chrono::seconds(nSeconds));   // frames arrive meanwhile
    pStream->Stop();      // no callback runs after Stop returns
    pStream->Release();   // deletes the stream

    reinterpret_cast<JXRTSPInvalidateFunc>(table[JXRTSP_API_INVALIDATE])();
    JXModuleUnload(pModule);
    printf("%llu frames (%llu key), %llu bytes, last report %d\n", (unsigned long long)host.m_Frames.load(),
           (unsigned long long)host.m_KeyFrames.load(), (unsigned long long)host.m_Bytes.load(),
           (int)host.m_LastError.load());
    return host.m_Frames > 0 ? 0 : 1;
}
