// jxrtsp probe: starts one stream, waits (bounded) for its first key frame or
// first audio frame, tells what the stream carries and how it ended.
#include "JXBase.h"
#include "jxrtsp_tool.h"
#include "module_host.h"
#include "record/raw_writer.h"
#include "record/summary_json.h"
#include "stream_failure.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

const int kTickMs = 20;
// After the first key frame (or audio frame), how long the other kind of
// media may take to show up before the probe answers without it.
const uint64_t kOtherMediaWaitMs = 1500;

const int kExitAuth = 3;
const int kExitUnreachable = 4;
const int kExitTimeout = 5;

// Runs on the module's worker thread. Each media part is written once, before
// its flag is raised; the host's thread reads it after seeing the flag.
class CProbeSubscriber : public CJXObject {
public:
    int OnMessage(CJXObject*, uint32_t nCode, void* pParam1, void*)
    {
        if (nCode == JXRTSP_MSG_FRAME && pParam1 != nullptr) {
            OnFrame(*static_cast<const CPacket*>(pParam1));
            return 0;
        }
        const int32_t nError = pParam1 != nullptr ? static_cast<CJXMsg*>(pParam1)->GetError() : 0;
        if (nCode == JXRTSP_MSG_STATE && nError != 0 && m_Error == 0) m_Error = nError;
        if (nCode == JXRTSP_MSG_STOPPED) m_Stopped = true;
        return 0;
    }

    void OnFrame(const CPacket& frame)
    {
        if (m_FirstFrameMs < 0) m_FirstFrameMs = int64_t(CJXTime::GetTimeMS() - m_StartMs);
        if (frame.FrameIsAudio() && !m_HasAudio) {
            m_Audio.sCodec = CodecName(frame.FrameGetCodec());
            m_Audio.nRate = frame.FrameGetFreq();
            // The channels are the description's (AAC's config); G.711 is mono.
            m_Audio.nChannels = 1;
            CJXMediaDesc* pDesc = nullptr;
            if (m_Stream != nullptr && m_Stream->GetMediaDesc(pDesc) == JX_OK && pDesc != nullptr) {
                if (pDesc->m_Audio != nullptr && pDesc->m_Audio->nChannels != 0) {
                    m_Audio.nChannels = pDesc->m_Audio->nChannels;
                }
                pDesc->Release();
            }
            m_HasAudio = true;
        } else if (frame.FrameIsKey() && !m_HasVideo) {
            m_Video.sCodec = CodecName(VideoCodecFamily(frame.FrameGetCodec()));
            m_Video.nWidth = frame.FrameGetWidth();
            m_Video.nHeight = frame.FrameGetHeight();
            m_Video.fFps = frame.FrameGetFPS();
            m_HasVideo = true;
        }
    }

    IJXStream* m_Stream = nullptr;   // set before the stream starts
    uint64_t m_StartMs = 0;
    std::atomic<int64_t> m_FirstFrameMs{-1};
    std::atomic<int32_t> m_Error{0};
    std::atomic<bool> m_Stopped{false};
    std::atomic<bool> m_HasVideo{false};
    std::atomic<bool> m_HasAudio{false};
    JXVideoSummary m_Video;
    JXAudioSummary m_Audio;
};

// The video part of the stream's description (empty when it has none); read
// before Stop, as the description ends with the session.
JXVideoDesc ReadVideoDesc(IJXStream* pStream)
{
    JXVideoDesc desc;
    CJXMediaDesc* pDesc = nullptr;
    if (pStream->GetMediaDesc(pDesc) != JX_OK || pDesc == nullptr) return desc;
    if (pDesc->m_Video != nullptr) desc = *pDesc->m_Video;
    pDesc->Release();
    return desc;
}

void PrintResult(const JXProbeResult& r)
{
    printf("url: %s\nstatus: %s", r.sUrl.c_str(), r.sStatus.c_str());
    if (r.nError != 0) printf(" (%s)", FailureWords(r.lastError, "no further detail").c_str());
    printf("\n");
    if (!r.video.sCodec.empty())
        printf("video: %s %ux%u %.2f fps\n", r.video.sCodec.c_str(), r.video.nWidth, r.video.nHeight, r.video.fFps);
    if (!r.audio.sCodec.empty())
        printf("audio: %s %u Hz, %u channel%s\n", r.audio.sCodec.c_str(), r.audio.nRate, r.audio.nChannels,
               r.audio.nChannels == 1 ? "" : "s");
    if (r.nFirstFrameMs >= 0) printf("first frame: %lld ms\n", (long long)r.nFirstFrameMs);
}

}   // namespace

int RunProbe(const JXToolOptions& opt, CModuleHost& host)
{
    const std::string& sUrl = opt.urls[0];
    JXProbeResult result;
    result.sUrl = UrlForLog(sUrl.c_str());
    IJXStream* pStream = host.CreateStream(sUrl.c_str());
    if (pStream == nullptr) return kExitUsage;

    CProbeSubscriber sub;
    sub.m_Stream = pStream;
    sub.m_StartMs = CJXTime::GetTimeMS();
    pStream->Attach(&sub, JX_SIGNAL_FUNC(&CProbeSubscriber::OnMessage));
    if (pStream->Open(sUrl.c_str()) == JX_OK) pStream->Start();

    const uint64_t nEndMs = sub.m_StartMs + uint64_t(opt.nTimeout) * 1000;
    uint64_t nFirstMediaMs = 0;
    bool bTimedOut = true;
    for (;;) {
        const uint64_t nNow = CJXTime::GetTimeMS();
        if (sub.m_Error != 0) {
            bTimedOut = false;
            break;
        }
        if (nFirstMediaMs == 0 && (sub.m_HasVideo || sub.m_HasAudio)) nFirstMediaMs = nNow;
        if (sub.m_HasVideo && sub.m_HasAudio) {
            bTimedOut = false;
            break;
        }
        if (nFirstMediaMs != 0 && nNow - nFirstMediaMs >= kOtherMediaWaitMs) {
            bTimedOut = false;
            break;
        }
        if (nNow >= nEndMs) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
    }
    const JXVideoDesc desc = ReadVideoDesc(pStream);
    if (sub.m_Error != 0) result.lastError = ReadLastFailure(pStream);
    // Stop waits for the worker's pass to end: a failure after the connection
    // was made has sent its 4102 by then, a failed connect sends none.
    pStream->Stop();
    pStream->Detach(&sub, JX_SIGNAL_FUNC(&CProbeSubscriber::OnMessage));
    pStream->Release();

    // After Stop no callback runs: the worker's fields are ours to read.
    const bool bGotMedia = sub.m_HasVideo || sub.m_HasAudio;
    int nExit = kExitOk;
    result.nError = sub.m_Error;
    if (bGotMedia && sub.m_Error == 0) {
        result.sStatus = "ok";
    } else if (sub.m_Error == JXRTSP_REPORT_AUTH) {
        result.sStatus = "auth_refused";
        nExit = kExitAuth;
    } else if (sub.m_Error != 0 && !sub.m_Stopped) {
        result.sStatus = "unreachable";
        nExit = kExitUnreachable;
    } else if (sub.m_Error != 0) {
        result.sStatus = "failed";
        nExit = kExitFailed;
    } else {
        result.sStatus = bTimedOut ? "timeout" : "failed";
        nExit = bTimedOut ? kExitTimeout : kExitFailed;
    }
    if (sub.m_HasVideo) {
        result.video = sub.m_Video;
        if (result.video.nWidth == 0) {
            result.video.nWidth = desc.nWidth;
            result.video.nHeight = desc.nHeight;
        }
        if (result.video.fFps == 0.0) result.video.fFps = desc.fFPS;
    }
    if (sub.m_HasAudio) result.audio = sub.m_Audio;
    result.nFirstFrameMs = sub.m_FirstFrameMs;
    if (opt.bJson) {
        printf("%s\n", ProbeToJson(result).c_str());
    } else {
        PrintResult(result);
    }
    return nExit;
}
