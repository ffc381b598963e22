#include "segment_writer.h"

#include "frame_time.h"
#include "record_files.h"

#include "JXPacket.h"

namespace {

// A summary rewritten every few seconds lists this many files, the latest;
// a week of 10 s files would otherwise grow it without end.
const size_t kMaxListedSegments = 1000;
const char kMkvExt[] = ".mkv";
// How long the file before a cut waits for sound from before the cut: sound
// arrives behind the picture by a packet or a network's reordering, far less.
const int64_t kSoundLagMs = 1000;

}   // namespace

bool CSegmentClock::Begins(int64_t nFrameMs, bool bCanBegin)
{
    if (!m_Started) {
        m_Started = true;
        m_BoundaryMs = nFrameMs + m_LengthMs;
        return true;
    }
    if (m_LengthMs == 0 || !bCanBegin) return false;
    const int64_t nPastMs = nFrameMs - m_BoundaryMs;
    const bool bSteppedBack = nFrameMs < m_BoundaryMs - m_LengthMs;
    if (nPastMs < 0 && !bSteppedBack) return false;
    m_BoundaryMs = nPastMs >= 0 && nPastMs < m_LengthMs ? m_BoundaryMs + m_LengthMs : nFrameMs + m_LengthMs;
    return true;
}

CSegmentWriter::CSegmentWriter(const JXSegmentPlan& plan, JXMakeWriter makeWriter)
    : m_Plan(plan), m_MakeWriter(std::move(makeWriter)), m_Clock(plan.nLengthMs)
{
}

CSegmentWriter::~CSegmentWriter()
{
    Close();
}

void CSegmentWriter::SetMediaDesc(const JXVideoDesc* pVideo, const JXAudioDesc* pAudio)
{
    // Kept for every file to come: the module's description ends with its session.
    m_HasVideoDesc = pVideo != nullptr;
    m_HasAudioDesc = pAudio != nullptr;
    if (pVideo != nullptr) m_VideoDesc = *pVideo;
    if (pAudio != nullptr) m_AudioDesc = *pAudio;
    if (m_Writer != nullptr) m_Writer->SetMediaDesc(pVideo, pAudio);
}

void CSegmentWriter::Begin(bool bSoundOnly, bool bByPicture, int64_t nCutMs)
{
    FinishPrevious();
    if (bByPicture && m_Writer != nullptr) {
        m_Previous = std::move(m_Writer);
        m_PreviousSegment = m_Segment;
        m_CutMs = nCutMs;
    }
    Finish(m_Writer, m_Segment);
    JXNameFields fields = m_Plan.fields;
    fields.nUtcMs = NowUtcMs();
    fields.nNumber = ++m_Number;
    const std::string sBase = m_Plan.sOut + "/" + ExpandName(m_Plan.sTemplate, fields);
    // Elementary files of a single recording go into the stream's own folder, as they always did.
    const std::string sPath = m_Plan.bFolders && sBase == m_Plan.sStreamDir
                                  ? sBase
                                  : TakeName(sBase, m_Plan.bFolders ? "" : kMkvExt, m_Plan.bFolders);
    m_Segment = JXSegmentSummary();
    m_Segment.sFile = sPath;
    m_Segment.nStartUtcMs = fields.nUtcMs;
    if (sPath.empty()) {
        ++m_Errors;
        return;
    }
    m_Writer = m_MakeWriter(sPath, fields.nUtcMs);
    m_Writer->SetMediaDesc(m_HasVideoDesc ? &m_VideoDesc : nullptr, m_HasAudioDesc ? &m_AudioDesc : nullptr);
    if (bSoundOnly) m_Writer->SetSoundOnly();
}

void CSegmentWriter::Finish(std::unique_ptr<CMediaWriter>& pWriter, const JXSegmentSummary& segment)
{
    if (pWriter == nullptr) return;
    pWriter->Close();
    JXStreamSummary written;
    pWriter->Fill(written);
    pWriter.reset();
    AskToReturnFreedMemory();
    m_Skipped += written.nSkippedFrames;
    m_Errors += written.nWriteErrors;
    // A file that never got a frame (no key frame came) was removed by its writer.
    if (written.video.sFile.empty() && written.audio.sFile.empty()) return;
    m_LastVideoFile = written.video.sFile.empty() ? "" : InStreamDir(segment.sFile, written.video.sFile);
    m_LastAudioFile = written.audio.sFile.empty() ? "" : InStreamDir(segment.sFile, written.audio.sFile);
    if (m_Done.size() >= kMaxListedSegments) {
        m_Done.pop_front();
        ++m_Dropped;
    }
    m_Done.push_back(segment);
}

void CSegmentWriter::FinishPrevious()
{
    Finish(m_Previous, m_PreviousSegment);
}

void CSegmentWriter::Count(JXSegmentSummary& segment, const CPacket& frame)
{
    ++segment.nFrames;
    segment.nBytes += frame.FrameGetLength();
}

void CSegmentWriter::WriteVideo(const CPacket& frame)
{
    if (m_Closed) return;
    m_SawVideo = true;
    const int64_t nTimeMs = FrameTimeMs(frame);
    const bool bKey = frame.FrameIsKey() || VideoCodecFamily(frame.FrameGetCodec()) == JX_CODEC_JPEG;
    if (m_Previous != nullptr && (nTimeMs - m_CutMs > kSoundLagMs || nTimeMs < m_CutMs)) FinishPrevious();
    if (m_Clock.Begins(nTimeMs, bKey)) Begin(false, m_HasAudioDesc, nTimeMs);
    if (m_Writer == nullptr) {
        ++m_Skipped;
        return;
    }
    Count(m_Segment, frame);
    m_Writer->WriteVideo(frame);
}

void CSegmentWriter::WriteAudio(const CPacket& frame)
{
    if (m_Closed) return;
    const int64_t nTimeMs = FrameTimeMs(frame);
    if (m_Previous != nullptr && nTimeMs < m_CutMs) {
        Count(m_PreviousSegment, frame);
        m_Previous->WriteAudio(frame);
        return;
    }
    // The sound has passed the cut: the file before is complete.
    FinishPrevious();
    const bool bSoundOnly = !m_SawVideo && !m_HasVideoDesc;
    const bool bFirst = m_Number == 0;
    if (m_Clock.Begins(nTimeMs, bSoundOnly)) Begin(bSoundOnly && !bFirst, false, nTimeMs);
    if (m_Writer == nullptr) {
        ++m_Skipped;
        return;
    }
    Count(m_Segment, frame);
    m_Writer->WriteAudio(frame);
}

void CSegmentWriter::Close()
{
    if (m_Closed) return;
    m_Closed = true;
    FinishPrevious();
    Finish(m_Writer, m_Segment);
}

std::string CSegmentWriter::InStreamDir(const std::string& sSegment, const std::string& sName) const
{
    const std::string sPath = m_Plan.bFolders ? sSegment + "/" + sName : sSegment;
    const std::string sPrefix = m_Plan.sStreamDir + "/";
    if (sPath.compare(0, sPrefix.size(), sPrefix) == 0) return sPath.substr(sPrefix.size());
    return sPath;
}

void CSegmentWriter::Add(JXStreamSummary& summary, CMediaWriter& writer, const JXSegmentSummary& segment) const
{
    JXStreamSummary open;
    writer.Fill(open);
    summary.nSkippedFrames += open.nSkippedFrames;
    summary.nWriteErrors += open.nWriteErrors;
    if (open.video.sFile.empty() && open.audio.sFile.empty()) return;
    if (!open.video.sFile.empty()) summary.video.sFile = InStreamDir(segment.sFile, open.video.sFile);
    if (!open.audio.sFile.empty()) summary.audio.sFile = InStreamDir(segment.sFile, open.audio.sFile);
    summary.segments.push_back(segment);
}

void CSegmentWriter::Fill(JXStreamSummary& summary) const
{
    summary.video.sFile = m_LastVideoFile;
    summary.audio.sFile = m_LastAudioFile;
    summary.nSkippedFrames = m_Skipped;
    summary.nWriteErrors = m_Errors;
    summary.segments.assign(m_Done.begin(), m_Done.end());
    summary.nSegmentsDropped = m_Dropped;
    // The open files, as far as they are written.
    if (m_Previous != nullptr) Add(summary, *m_Previous, m_PreviousSegment);
    if (m_Writer != nullptr) Add(summary, *m_Writer, m_Segment);
}
