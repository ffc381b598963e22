#include "record_stream.h"

#include "JXBase.h"
#include "JXStream.h"
#include "module_host.h"
#include "stream_failure.h"

namespace {

// A camera that fails for days reports every 10 s; the summary keeps the first
// reports and counts the rest.
const size_t kMaxReports = 200;
// How often the frames' counts are copied for a summary written while recording.
const uint64_t kPublishMs = 1000;

}   // namespace

CRecordStream::CRecordStream(const std::string& sUrl, const std::string& sDir, std::unique_ptr<CMediaWriter> pWriter)
    : m_Url(sUrl), m_LogUrl(UrlForLog(sUrl.c_str())), m_Dir(sDir), m_Writer(std::move(pWriter))
{
    m_Reports.reserve(kMaxReports);
    // A summary asked for before the first frame or report still names its stream.
    m_Published.sUrl = m_LogUrl;
    m_Published.sDir = m_Dir;
}

CRecordStream::~CRecordStream()
{
    End();
}

int32_t CRecordStream::Begin(IJXStream* pStream)
{
    m_Stream = pStream;
    m_StartMs = CJXTime::GetTimeMS();
    m_Retry.reset(new CRetryTracker(m_Policy, m_StartMs));
    pStream->Attach(this, JX_SIGNAL_FUNC(&CRecordStream::OnMessage));
    int32_t nRet = pStream->Open(m_Url.c_str());
    if (nRet == JX_OK) nRet = pStream->Start();
    return nRet;
}

void CRecordStream::End()
{
    if (m_Stream == nullptr) return;
    // The description ends with the session: it is read first, and fills
    // what the frames did not tell once the stream has stopped (the frame
    // fields belong to the worker until then).
    JXVideoDesc desc;
    CJXMediaDesc* pDesc = nullptr;
    if (m_Stream->GetMediaDesc(pDesc) == JX_OK && pDesc != nullptr) {
        if (pDesc->m_Video != nullptr) desc = *pDesc->m_Video;
        pDesc->Release();
    }
    m_Stream->Stop();
    m_Stream->Detach(this, JX_SIGNAL_FUNC(&CRecordStream::OnMessage));
    // After Stop: every frame the module counted as delivered has been taken.
    ReadReception(m_Stream, m_Video.reception, m_Audio.reception);
    m_Stream = nullptr;
    m_Writer->Close();
    if (m_Video.nWidth == 0) {
        m_Video.nWidth = desc.nWidth;
        m_Video.nHeight = desc.nHeight;
    }
    if (m_Video.fFps == 0.0) m_Video.fFps = desc.fFPS;
    Publish();
}

void CRecordStream::Publish()
{
    std::lock_guard<std::mutex> lock(m_PublishMutex);
    m_Published.video = m_Video;
    m_Published.audio = m_Audio;
    m_Published.nFirstFrameMs = m_FirstFrameMs;
    m_Published.nReconnects = m_Reconnects;
    m_Writer->Fill(m_Published);
    m_Published.sFirstJpeg = m_FirstJpeg;
    m_Published.nWriteErrors += m_JpegErrors;
}

uint64_t CRecordStream::SinceStartMs() const
{
    return CJXTime::GetTimeMS() - m_StartMs;
}

int CRecordStream::OnMessage(CJXObject*, uint32_t nCode, void* pParam1, void*)
{
    if (nCode == JXRTSP_MSG_FRAME && pParam1 != nullptr) {
        OnFrame(*static_cast<const CPacket*>(pParam1));
        return 0;
    }
    if (nCode == JXRTSP_MSG_STATE || nCode == JXRTSP_MSG_STOPPED) {
        OnReport(nCode, pParam1 != nullptr ? static_cast<CJXMsg*>(pParam1)->GetError() : 0);
    }
    return 0;
}

void CRecordStream::OnFrame(const CPacket& frame)
{
    const uint64_t nNowMs = SinceStartMs();
    if (nNowMs - m_PublishedMs >= kPublishMs) {
        m_PublishedMs = nNowMs;
        Publish();
    }
    if (m_FirstFrameMs < 0) {
        m_FirstFrameMs = int64_t(SinceStartMs());
        // Once, on the worker: the description is complete by the first
        // frame and tells the writer which media to wait for.
        CJXMediaDesc* pDesc = nullptr;
        if (m_Stream->GetMediaDesc(pDesc) == JX_OK && pDesc != nullptr) {
            m_Writer->SetMediaDesc(pDesc->m_Video, pDesc->m_Audio);
            if (pDesc->m_Audio != nullptr) m_DescChannels = pDesc->m_Audio->nChannels;
            pDesc->Release();
        }
    }
    const uint32_t nLength = frame.FrameGetLength();
    m_Bytes.fetch_add(nLength, std::memory_order_relaxed);
    if (frame.FrameIsAudio()) {
        if (m_Audio.sCodec.empty()) {
            m_Audio.sCodec = CodecName(frame.FrameGetCodec());
            m_Audio.nRate = frame.FrameGetFreq();
            // A frame tells no channel count: G.711 is mono, AAC's comes from its config.
            m_Audio.nChannels = m_DescChannels != 0 ? m_DescChannels : 1;
        }
        ++m_Audio.nFrames;
        m_Audio.nBytes += nLength;
        m_AudioFrames.fetch_add(1, std::memory_order_relaxed);
        m_Writer->WriteAudio(frame);
        return;
    }
    if (m_Video.sCodec.empty()) m_Video.sCodec = CodecName(VideoCodecFamily(frame.FrameGetCodec()));
    if (frame.FrameIsKey()) {
        ++m_Video.nKeyFrames;
        if (frame.FrameGetWidth() != 0) {
            m_Video.nWidth = frame.FrameGetWidth();
            m_Video.nHeight = frame.FrameGetHeight();
        }
    }
    if (frame.FrameGetFPS() > 0.0f) m_Video.fFps = frame.FrameGetFPS();
    ++m_Video.nFrames;
    m_Video.nBytes += nLength;
    m_VideoFrames.fetch_add(1, std::memory_order_relaxed);
    m_Writer->WriteVideo(frame);
    if (m_FirstJpeg.empty() && VideoCodecFamily(frame.FrameGetCodec()) == JX_CODEC_JPEG) {
        m_FirstJpeg = kFirstJpegName;
        m_JpegErrors += WriteFrameFile(m_Dir + "/" + m_FirstJpeg, frame);
    }
}

void CRecordStream::OnReport(uint32_t nCode, int32_t nError)
{
    if (nCode == JXRTSP_MSG_STATE && nError == JX_OK) {
        if (m_Played) ++m_Reconnects;
        m_Played = true;
        m_Retry->OnPlaying();
    }
    std::string sWhy;
    if (nCode == JXRTSP_MSG_STATE && nError != JX_OK) {
        // On the worker, with the report: the module's cause is this failure's.
        const JXFailureSummary failure = ReadLastFailure(m_Stream);
        const std::string sGiveUp = m_Retry->OnFailure(failure, CJXTime::GetTimeMS());
        const char* pFallback = nError == JXRTSP_REPORT_AUTH      ? "authentication refused"
                                : nError == JXRTSP_REPORT_NO_DATA ? "no data in time"
                                                                  : "failed";
        sWhy = FailureWords(failure, pFallback) + "; " + CRetryTracker::NextStep(sGiveUp);
        std::lock_guard<std::mutex> lock(m_ReportMutex);
        m_LastFailure = failure;
        if (m_GiveUp.empty()) m_GiveUp = sGiveUp;
    }
    m_LastCode = int32_t(nCode);
    m_LastError = nError;
    Publish();
    std::lock_guard<std::mutex> lock(m_ReportMutex);
    if (m_Reports.size() >= kMaxReports) {
        ++m_ReportsDropped;
        return;
    }
    JXStateReport report;
    report.nAtMs = SinceStartMs();
    report.nCode = nCode;
    report.nError = nError;
    report.sWhy = sWhy;
    m_Reports.push_back(report);
}

std::string CRecordStream::GiveUpReason(uint64_t nNowMs)
{
    std::lock_guard<std::mutex> lock(m_ReportMutex);
    if (m_GiveUp.empty() && m_Retry) m_GiveUp = m_Retry->CheckIdle(nNowMs);
    return m_GiveUp;
}

std::string CRecordStream::LastFailureWords() const
{
    std::lock_guard<std::mutex> lock(m_ReportMutex);
    return m_LastFailure.sText;
}

void CRecordStream::ReadReception(IJXStream* pStream, JXReceptionSummary& video, JXReceptionSummary& audio)
{
    CJXStreamStats stats;
    // A module older than the counts answers JX_ERR_UNSUPPORTED and leaves
    // them 0.
    const bool bKnown = pStream->GetStatistics(stats) == JX_OK;
    const CJXStreamMediaStats* pFrom[] = {&stats.m_Video, &stats.m_Audio};
    JXReceptionSummary* pTo[] = {&video, &audio};
    for (size_t i = 0; i < 2; ++i) {
        JXReceptionSummary& r = *pTo[i];
        r.bKnown = bKnown;
        r.nPacketsReceived = pFrom[i]->m_PacketsReceived;
        r.nPacketsLost = pFrom[i]->m_PacketsLost;
        r.nFramesDelivered = pFrom[i]->m_FramesDelivered;
        r.nFramesDropped = pFrom[i]->m_FramesDropped;
        r.fJitterMs = pFrom[i]->m_JitterMs;
    }
}

void CRecordStream::TakeNewReports(std::vector<JXStateReport>& reports)
{
    std::lock_guard<std::mutex> lock(m_ReportMutex);
    reports.assign(m_Reports.begin() + long(m_ReportsTaken), m_Reports.end());
    m_ReportsTaken = m_Reports.size();
}

JXStreamSummary CRecordStream::GetSummary() const
{
    JXStreamSummary summary;
    {
        std::lock_guard<std::mutex> lock(m_PublishMutex);
        summary = m_Published;
    }
    // While the stream runs, the module's counts are read now.
    if (m_Stream != nullptr) ReadReception(m_Stream, summary.video.reception, summary.audio.reception);
    std::lock_guard<std::mutex> lock(m_ReportMutex);
    summary.lastError = m_LastFailure;
    summary.sGaveUp = m_GiveUp;
    summary.states = m_Reports;
    summary.nStatesDropped = m_ReportsDropped;
    return summary;
}
