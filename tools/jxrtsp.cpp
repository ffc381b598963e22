// jxrtsp: a host program for the RTSP module. It loads the module at run time
// exactly as a host application does (the platform's loader, JXRTSPGetAPI, the
// function table, JXRTSPGetInterface with "IJXStream" and a URL) and reports
// what it got. Given a URL, it plays the stream for a while and reports the
// session's state, the frames received and the media description.
#include "JXBase.h"
#include "jxrtsp.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

const char kProbeUrl[] = "rtsp://127.0.0.1/probe";
const int kDefaultSeconds = 10;
const uint32_t kMsgFrame = 2106;
const uint32_t kMsgState = 4101;
const uint32_t kMsgStopped = 4102;

struct Options {
    std::string sModule;
    std::string sUrl;
    int nSeconds = kDefaultSeconds;
};

void PrintUsage()
{
    fprintf(stderr,
            "usage: jxrtsp [--module PATH] [--seconds N] [URL]\n"
            "  without URL: load the module, create a stream object and report it\n"
            "  with URL:    play rtsp://[user:password@]host[:port]/path for N seconds (default %d)\n",
            kDefaultSeconds);
}

int ParseOptions(int argc, char** argv, Options& opt)
{
    for (int i = 1; i < argc; ++i) {
        const char* pArg = argv[i];
        if (strcmp(pArg, "--module") == 0 && i + 1 < argc) {
            opt.sModule = argv[++i];
        } else if (strcmp(pArg, "--seconds") == 0 && i + 1 < argc) {
            char* pEnd = nullptr;
            long n = strtol(argv[++i], &pEnd, 10);
            if (pEnd == nullptr || *pEnd != '\0' || n < 1 || n > 86400) {
                fprintf(stderr, "jxrtsp: --seconds takes a number from 1 to 86400\n");
                return JX_ERR_ARG;
            }
            opt.nSeconds = int(n);
        } else if (pArg[0] == '-') {
            return JX_ERR_ARG;
        } else if (opt.sUrl.empty()) {
            opt.sUrl = pArg;
        } else {
            return JX_ERR_ARG;
        }
    }
    return JX_OK;
}

std::string DefaultModulePath()
{
    char dir[1024];
    char name[64];
    JXModuleFileName("JXRtsp", name, sizeof(name));
    if (JXModuleProgramDir(dir, sizeof(dir)) != JX_OK) return name;
    return std::string(dir) + "/" + name;
}

// Counts what the stream delivers; called on the module's worker thread.
class CSubscriber : public CJXObject {
public:
    int OnMessage(CJXObject*, uint32_t nCode, void* pParam1, void*)
    {
        if (nCode == kMsgFrame && pParam1 != nullptr) {
            OnFrame(*static_cast<CPacket*>(pParam1));
            return 0;
        }
        if (nCode == kMsgState || nCode == kMsgStopped) {
            int32_t nError = pParam1 != nullptr ? static_cast<CJXMsg*>(pParam1)->GetError() : 0;
            if (nCode == kMsgState && nError == 0) m_Playing = true;
            printf("state %u error %d\n", nCode, nError);
            fflush(stdout);
        }
        return 0;
    }

    std::atomic<bool> m_Playing{false};
    std::atomic<uint64_t> m_Video{0};
    std::atomic<uint64_t> m_KeyFrames{0};
    std::atomic<uint64_t> m_Audio{0};
    std::atomic<uint64_t> m_Bytes{0};

private:
    void OnFrame(const CPacket& packet)
    {
        m_Bytes += packet.FrameGetLength();
        if (packet.FrameIsAudio()) {
            ++m_Audio;
            return;
        }
        ++m_Video;
        if (packet.FrameIsKey()) ++m_KeyFrames;
    }
};

void ReportDescription(IJXStream* pStream)
{
    CJXMediaDesc* pDesc = nullptr;
    if (pStream->GetMediaDesc(pDesc) != JX_OK || pDesc == nullptr) {
        printf("media: none\n");
        return;
    }
    if (pDesc->m_Video != nullptr)
        printf("video: codec %u, %ux%u, %.2f fps\n", pDesc->m_Video->nCodec, pDesc->m_Video->nWidth,
               pDesc->m_Video->nHeight, double(pDesc->m_Video->fFPS));
    if (pDesc->m_Audio != nullptr)
        printf("audio: codec %u, %u channel(s), %u Hz\n", pDesc->m_Audio->nCodec, pDesc->m_Audio->nChannels,
               pDesc->m_Audio->nRate);
    pDesc->Release();
}

int Play(IJXStream* pStream, const Options& opt)
{
    CSubscriber subscriber;
    pStream->Attach(&subscriber, JX_SIGNAL_FUNC(&CSubscriber::OnMessage));
    int nRet = pStream->Open(opt.sUrl.c_str());
    if (nRet == JX_OK) nRet = pStream->Start();
    if (nRet != JX_OK) {
        printf("start failed: %d\n", nRet);
        pStream->Detach(&subscriber, JX_SIGNAL_FUNC(&CSubscriber::OnMessage));
        return 1;
    }
    for (int i = 0; i < opt.nSeconds; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        printf("t=%ds video %llu (key %llu) audio %llu bytes %llu\n", i + 1,
               (unsigned long long)subscriber.m_Video.load(), (unsigned long long)subscriber.m_KeyFrames.load(),
               (unsigned long long)subscriber.m_Audio.load(), (unsigned long long)subscriber.m_Bytes.load());
        fflush(stdout);
    }
    ReportDescription(pStream);   // the description ends with the session
    pStream->Stop();
    pStream->Detach(&subscriber, JX_SIGNAL_FUNC(&CSubscriber::OnMessage));
    bool bGotFrames = subscriber.m_Video + subscriber.m_Audio > 0;
    printf("result: %s\n", subscriber.m_Playing && bGotFrames ? "played" : "no media");
    return subscriber.m_Playing && bGotFrames ? 0 : 1;
}

int Report(IJXStream* pStream)
{
    CPacket* pFrame = nullptr;
    CJXMediaDesc* pDesc = nullptr;
    printf("stream: name %s, protocol %s\n", pStream->GetName(), pStream->GetProtocol());
    printf("GetLastIFrame: %d, GetMediaDesc: %d, Seek: %d\n", pStream->GetLastIFrame(pFrame),
           pStream->GetMediaDesc(pDesc), pStream->Seek(0u));
    return 0;
}

}   // namespace

int main(int argc, char** argv)
{
    Options opt;
    if (ParseOptions(argc, argv, opt) != JX_OK) {
        PrintUsage();
        return 2;
    }
    if (opt.sModule.empty()) opt.sModule = DefaultModulePath();

    char error[512];
    void* pModule = JXModuleLoad(opt.sModule.c_str(), error, sizeof(error));
    if (pModule == nullptr) {
        fprintf(stderr, "jxrtsp: cannot load %s: %s\n", opt.sModule.c_str(), error);
        return 1;
    }
    auto pGetAPI = reinterpret_cast<JXRTSPGetAPIFunc>(JXModuleSymbol(pModule, "JXRTSPGetAPI"));
    void* table[JXRTSP_API_COUNT] = {};
    if (pGetAPI == nullptr || pGetAPI(table) != JX_OK || table[JXRTSP_API_GETINTERFACE] == nullptr) {
        fprintf(stderr, "jxrtsp: %s has no usable JXRTSPGetAPI\n", opt.sModule.c_str());
        JXModuleUnload(pModule);
        return 1;
    }
    printf("module: %s\n", opt.sModule.c_str());
    reinterpret_cast<JXRTSPInitializeFunc>(table[JXRTSP_API_INITIALIZE])();
    auto pGetInterface = reinterpret_cast<JXRTSPGetInterfaceFunc>(table[JXRTSP_API_GETINTERFACE]);

    const char* pUrl = opt.sUrl.empty() ? kProbeUrl : opt.sUrl.c_str();
    IJXStream* pStream = pGetInterface("IJXStream", pUrl);
    if (pStream == nullptr) {
        CJXUrl url(pUrl);
        char* pShown = url.CloneForLog();   // never print the password
        fprintf(stderr, "jxrtsp: the module refused the URL %s\n", pShown != nullptr ? pShown : "(unreadable)");
        free(pShown);
        JXModuleUnload(pModule);
        return 1;
    }
    int nExit = opt.sUrl.empty() ? Report(pStream) : Play(pStream, opt);
    pStream->Release();
    reinterpret_cast<JXRTSPInvalidateFunc>(table[JXRTSP_API_INVALIDATE])();
    JXModuleUnload(pModule);
    return nExit;
}
