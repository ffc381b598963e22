// jxrtsp: a host program for the RTSP module. It loads the module at run time
// exactly as a host application does (the platform's loader, JXRTSPGetAPI, the
// function table, JXRTSPGetInterface with "IJXStream" and a URL) and drives
// streams only through IJXStream. Commands (their options: options.cpp):
//   record  record one or many streams into files
//   probe   tell what one stream carries
//   serve   an RTSP server on 127.0.0.1 streaming the sample clips
//   demo    serve and record every media kind at once
//   check   report the stream object the module gives, or play one URL
#include "JXBase.h"
#include "jxrtsp_tool.h"
#include "module_host.h"
#include "options.h"
#include "stream_failure.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kReportUrl[] = "rtsp://127.0.0.1/probe";
const int kDefaultPlaySeconds = 10;
#ifdef _WIN32
const char kNullDevice[] = "NUL";
#else
const char kNullDevice[] = "/dev/null";
#endif

// Counts what the stream delivers; called on the module's worker thread.
class CSubscriber : public CJXObject {
public:
    int OnMessage(CJXObject* pSender, uint32_t nCode, void* pParam1, void*)
    {
        if (nCode == JXRTSP_MSG_FRAME && pParam1 != nullptr) {
            OnFrame(*static_cast<CPacket*>(pParam1));
            return 0;
        }
        // A failure's line says what follows; the stop after it adds nothing.
        if (nCode == JXRTSP_MSG_STATE) {
            int32_t nError = pParam1 != nullptr ? static_cast<CJXMsg*>(pParam1)->GetError() : 0;
            if (nError == 0) m_Playing = true;
            const JXFailureSummary failure = ReadLastFailure(static_cast<IJXStream*>(pSender));
            const std::string sWhy = FailureWords(failure, "failed") + "; next attempt in 10 s";
            printf("state: %s\n", nError == 0 ? "playing" : sWhy.c_str());
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

int Play(IJXStream* pStream, const std::string& sUrl, int nSeconds)
{
    CSubscriber subscriber;
    pStream->Attach(&subscriber, JX_SIGNAL_FUNC(&CSubscriber::OnMessage));
    int nRet = pStream->Open(sUrl.c_str());
    if (nRet == JX_OK) nRet = pStream->Start();
    if (nRet != JX_OK) {
        printf("start failed: %d\n", nRet);
        pStream->Detach(&subscriber, JX_SIGNAL_FUNC(&CSubscriber::OnMessage));
        return kExitFailed;
    }
    for (int i = 0; i < nSeconds; ++i) {
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
    return subscriber.m_Playing && bGotFrames ? kExitOk : kExitFailed;
}

int Report(IJXStream* pStream)
{
    CPacket* pFrame = nullptr;
    CJXMediaDesc* pDesc = nullptr;
    printf("stream: name %s, protocol %s\n", pStream->GetName(), pStream->GetProtocol());
    printf("GetLastIFrame: %d, GetMediaDesc: %d, Seek: %d\n", pStream->GetLastIFrame(pFrame),
           pStream->GetMediaDesc(pDesc), pStream->Seek(0u));
    return kExitOk;
}

// The module as a host sees it: the stream object it gives, or one URL played.
int RunCheck(const JXToolOptions& opt, CModuleHost& host)
{
    printf("module: %s\n", host.GetPath().c_str());
    const char* pUrl = opt.urls.empty() ? kReportUrl : opt.urls[0].c_str();
    IJXStream* pStream = host.CreateStream(pUrl);
    if (pStream == nullptr) return kExitFailed;
    const int nExit =
        opt.urls.empty() ? Report(pStream) : Play(pStream, opt.urls[0], opt.nSeconds != 0 ? opt.nSeconds : kDefaultPlaySeconds);
    pStream->Release();
    return nExit;
}

void DiscardLog(const char*, void*) {}

}   // namespace

int main(int argc, char** argv)
{
    JXToolOptions opt;
    const JXCommandLine line = ReadCommandLine(std::vector<std::string>(argv + 1, argv + argc), opt);
    if (!line.bRun) {
        fputs(line.sText.c_str(), line.nExit == kExitOk ? stdout : stderr);
        return line.nExit;
    }
    // serve loads no module: it only builds packets.
    if (opt.sCommand == "serve") return RunServe(opt);
    // Quiet: what was asked for on standard output (--json, --progress -)
    // still comes; the outcome is the exit status and errors go to standard error.
    const bool bAskedForStdout = opt.bJson || opt.sProgress == "-";
    if (opt.bQuiet && !bAskedForStdout && freopen(kNullDevice, "w", stdout) == nullptr) return kExitFailed;
    // The module's log only when asked for; record sends it to its folder.
    if (!opt.bVerbose) JXSetLogSink(DiscardLog, nullptr);

    CModuleHost host;
    if (host.Load(opt.sModule) != JX_OK) return kExitFailed;
    int nExit = kExitFailed;
    if (opt.sCommand == "record") {
        nExit = RunRecord(opt, host);
    } else if (opt.sCommand == "probe") {
        nExit = RunProbe(opt, host);
    } else if (opt.sCommand == "demo") {
        nExit = RunDemo(opt, host);
    } else {
        nExit = RunCheck(opt, host);
    }
    host.Unload();
    JXSetLogSink(nullptr, nullptr);
    return nExit;
}
