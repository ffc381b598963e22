#include "progress.h"

#include "JXBase.h"
#include "JXStream.h"
#include "module_host.h"
#include "segment_name.h"
#include "summary_json.h"

namespace {

const uint64_t kProgressMs = 1000;   // the block and JSON lines, once a second
const double kBitsPerKbit = 1e3;
const double kBitsPerMbit = 1e6;
const double kBytesPerMB = 1e6;

// A state report's line; empty for the stop after a failure, whose line
// (the failure's, with what follows it) came just before.
std::string DescribeReport(const JXStateReport& report)
{
    if (report.nCode == JXRTSP_MSG_STOPPED) return std::string();
    if (report.nError == 0) return "playing";
    return report.sWhy;
}

std::string ShortState(const JXRecording& r)
{
    if (!r.sGaveUp.empty()) return "gave up: " + r.sGaveUp;
    const CRecordStream& record = *r.pRecord;
    if (record.m_LastCode == 0) return "connecting";
    if (record.m_LastCode == int32_t(JXRTSP_MSG_STATE) && record.m_LastError == 0) return "playing";
    const std::string sWords = record.LastFailureWords();
    return sWords.empty() ? "retrying" : "retrying after " + sWords;
}

// The state as one word, for machines.
std::string StateWord(const JXRecording& r)
{
    if (!r.sGaveUp.empty()) return "gave_up";
    const int32_t nCode = r.pRecord->m_LastCode;
    const int32_t nError = r.pRecord->m_LastError;
    if (nCode == 0) return "connecting";
    if (nCode == int32_t(JXRTSP_MSG_STOPPED)) return "retrying";
    if (nError == 0) return "playing";
    if (nError == JXRTSP_REPORT_AUTH) return "auth_refused";
    if (nError == JXRTSP_REPORT_NO_DATA) return "no_data";
    return "failed";
}

// "lost 0 packets, 0 frames  jitter 1.2 ms  " from the module's counts of
// both media (jitter: the video's, else the audio's); empty when it cannot tell.
std::string ReceptionText(const JXReceptionSummary& video, const JXReceptionSummary& audio)
{
    if (!video.bKnown) return std::string();
    const double fJitter = video.nPacketsReceived != 0 ? video.fJitterMs : audio.fJitterMs;
    char text[128];
    snprintf(text, sizeof(text), "lost %llu packets, %llu frames  jitter %.1f ms  ",
             (unsigned long long)(video.nPacketsLost + audio.nPacketsLost),
             (unsigned long long)(video.nFramesDropped + audio.nFramesDropped), fJitter);
    return text;
}

std::string Elapsed(uint64_t nMs)
{
    const uint64_t nSeconds = nMs / 1000;
    char text[32];
    snprintf(text, sizeof(text), "%llu:%02u:%02u", (unsigned long long)(nSeconds / 3600), unsigned(nSeconds / 60 % 60),
             unsigned(nSeconds % 60));
    return text;
}

}   // namespace

CProgress::CProgress(std::vector<JXRecording>& streams, bool bDraw, bool bQuiet, FILE* pJson)
    : m_Streams(streams), m_Draw(bDraw && !bQuiet), m_Lines(!bDraw && !bQuiet), m_Json(pJson),
      m_StartMs(CJXTime::GetTimeMS())
{
}

void CProgress::Tick(uint64_t nNowMs)
{
    if (m_Lines) PrintStateChanges();
    const bool bSecond = m_LastMs == 0 || nNowMs - m_LastMs >= kProgressMs;
    if (bSecond) {
        Sample(nNowMs, m_LastMs == 0 ? 0.0 : double(nNowMs - m_LastMs) / 1000.0);
        m_LastMs = nNowMs;
    }
    if (m_Draw && (bSecond || m_Redraw.exchange(false))) Draw(nNowMs);
}

void CProgress::Sample(uint64_t nNowMs, double fSeconds)
{
    for (JXRecording& r : m_Streams) {
        const uint64_t nBytes = r.pRecord->m_Bytes.load(std::memory_order_relaxed);
        if (fSeconds > 0.0) r.fKbits = double(nBytes - r.nLastBytes) * 8.0 / fSeconds / kBitsPerKbit;
        r.nLastBytes = nBytes;
        if (m_Json == nullptr) continue;
        JXProgressSample p;
        p.sUrl = r.pRecord->GetLogUrl();
        p.sDir = r.pRecord->GetDir();
        p.sState = StateWord(r);
        p.nFrames = r.pRecord->m_VideoFrames.load(std::memory_order_relaxed) +
                    r.pRecord->m_AudioFrames.load(std::memory_order_relaxed);
        p.nBytes = nBytes;
        p.fKbits = r.fKbits;
        CRecordStream::ReadReception(r.pStream, p.video, p.audio);
        p.nElapsedMs = nNowMs - m_StartMs;
        p.nUtcMs = NowUtcMs();
        fprintf(m_Json, "%s\n", ProgressToJson(p).c_str());
    }
    if (m_Json != nullptr) fflush(m_Json);
}

void CProgress::Draw(uint64_t nNowMs)
{
    // Every figure is read before the terminal is taken: the module may log
    // while it is asked, and its log comes through the same lock.
    std::vector<std::string> lines;
    uint64_t nTotal = 0;
    for (JXRecording& r : m_Streams) {
        JXReceptionSummary video;
        JXReceptionSummary audio;
        CRecordStream::ReadReception(r.pStream, video, audio);
        char text[512];
        snprintf(text, sizeof(text), "%s  %s  video %llu  audio %llu  %.1f MB  %s%.2f Mbit/s", r.sName.c_str(),
                 ShortState(r).c_str(),
                 (unsigned long long)r.pRecord->m_VideoFrames.load(std::memory_order_relaxed),
                 (unsigned long long)r.pRecord->m_AudioFrames.load(std::memory_order_relaxed),
                 double(r.nLastBytes) / kBytesPerMB, ReceptionText(video, audio).c_str(),
                 r.fKbits * kBitsPerKbit / kBitsPerMbit);
        lines.push_back(text);
        nTotal += r.nLastBytes;
    }
    char head[128];
    snprintf(head, sizeof(head), "recording %s, %.1f MB written, %zu stream%s", Elapsed(nNowMs - m_StartMs).c_str(),
             double(nTotal) / kBytesPerMB, m_Streams.size(), m_Streams.size() == 1 ? "" : "s");
    std::lock_guard<std::mutex> lock(m_DrawMutex);
    Erase();
    fprintf(stderr, "%s\n", head);
    for (const std::string& sLine : lines) fprintf(stderr, "%s\n", sLine.c_str());
    fflush(stderr);
    m_DrawnLines = lines.size() + 1;
}

void CProgress::Erase()
{
    if (m_DrawnLines != 0) fprintf(stderr, "\033[%zuA\033[J", m_DrawnLines);
    m_DrawnLines = 0;
}

void CProgress::LogSink(const char* pLine, void* pUser)
{
    CProgress* pThis = static_cast<CProgress*>(pUser);
    std::lock_guard<std::mutex> lock(pThis->m_DrawMutex);
    // The block goes and the line takes its place; the next tick draws the
    // block again below it.
    pThis->Erase();
    fputs(pLine, stderr);
    fflush(stderr);
    pThis->m_Redraw = true;
}

void CProgress::Finish()
{
    // The last state, in the block and the JSON lines: a stream given up at
    // the end still says so.
    const uint64_t nNowMs = CJXTime::GetTimeMS();
    if (m_LastMs != 0 && nNowMs > m_LastMs) Sample(nNowMs, double(nNowMs - m_LastMs) / 1000.0);
    if (m_Draw) Draw(nNowMs);
    if (m_Lines) PrintStateChanges();
}

void CProgress::PrintStateChanges()
{
    std::vector<JXStateReport> reports;
    for (JXRecording& r : m_Streams) {
        r.pRecord->TakeNewReports(reports);
        for (const JXStateReport& report : reports) {
            const std::string sLine = DescribeReport(report);
            if (!sLine.empty()) fprintf(stderr, "%s: %s\n", r.sName.c_str(), sLine.c_str());
        }
    }
    fflush(stderr);
}
