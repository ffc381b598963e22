#include "segment_writer.h"

#include "frame_time.h"
#include "record_files.h"

#include "JXPacket.h"

namespace {

// A summary rewritten every few seconds lists this many files, the latest;
// a week of 10 s files would otherwise grow it without end.
const size_t kMaxListedSegments = 1000;
const char kMkvExt[] = ".mkv";

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

void CSegmentWriter::Begin(bool bSoundOnly)
{
    Finish();
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

void CSegmentWriter::Finish()
{
    if (m_Writer == nullptr) return;
    m_Writer->Close();
    JXStreamSummary written;
    m_Writer->Fill(written);
    m_Writer.reset();
    ReturnFreedMemory();
    m_Skipped += written.nSkippedFrames;
    m_Errors += written.nWriteErrors;
    // A file that never got a frame (no key frame came) was removed by its writer.
    if (written.video.sFile.empty() && written.audio.sFile.empty()) return;
    m_LastVideoFile = written.video.sFile.empty() ? "" : InStreamDir(m_Segment.sFile, written.video.sFile);
    m_LastAudioFile = written.audio.sFile.empty() ? "" : InStreamDir(m_Segment.sFile, written.audio.sFile);
    if (m_Done.size() >= kMaxListedSegments) {
        m_Done.pop_front();
        ++m_Dropped;
    }
    m_Done.push_back(m_Segment);
}

void CSegmentWriter::Count(const CPacket& frame)
{
    ++m_Segment.nFrames;
    m_Segment.nBytes += frame.FrameGetLength();
}

void CSegmentWriter::WriteVideo(const CPacket& frame)
{
    if (m_Closed) return;
    m_SawVideo = true;
    const bool bKey = frame.FrameIsKey() || VideoCodecFamily(frame.FrameGetCodec()) == JX_CODEC_JPEG;
    if (m_Clock.Begins(FrameTimeMs(frame), bKey)) Begin(false);
    if (m_Writer == nullptr) {
        ++m_Skipped;
        return;
    }
    Count(frame);
    m_Writer->WriteVideo(frame);
}

void CSegmentWriter::WriteAudio(const CPacket& frame)
{
    if (m_Closed) return;
    // With a picture, sound follows the picture's cut: it goes into the file
    // the last key frame began (which leaves out what came before its start).
    const bool bSoundOnly = !m_SawVideo && !m_HasVideoDesc;
    const bool bFirst = m_Number == 0;
    if (m_Clock.Begins(FrameTimeMs(frame), bSoundOnly)) Begin(bSoundOnly && !bFirst);
    if (m_Writer == nullptr) {
        ++m_Skipped;
        return;
    }
    Count(frame);
    m_Writer->WriteAudio(frame);
}

void CSegmentWriter::Close()
{
    if (m_Closed) return;
    m_Closed = true;
    Finish();
}

std::string CSegmentWriter::InStreamDir(const std::string& sSegment, const std::string& sName) const
{
    const std::string sPath = m_Plan.bFolders ? sSegment + "/" + sName : sSegment;
    const std::string sPrefix = m_Plan.sStreamDir + "/";
    if (sPath.compare(0, sPrefix.size(), sPrefix) == 0) return sPath.substr(sPrefix.size());
    return sPath;
}

void CSegmentWriter::Fill(JXStreamSummary& summary) const
{
    summary.video.sFile = m_LastVideoFile;
    summary.audio.sFile = m_LastAudioFile;
    summary.nSkippedFrames = m_Skipped;
    summary.nWriteErrors = m_Errors;
    summary.segments.assign(m_Done.begin(), m_Done.end());
    summary.nSegmentsDropped = m_Dropped;
    if (m_Writer == nullptr) return;
    // The open file, as far as it is written.
    JXStreamSummary open;
    m_Writer->Fill(open);
    summary.nSkippedFrames += open.nSkippedFrames;
    summary.nWriteErrors += open.nWriteErrors;
    if (open.video.sFile.empty() && open.audio.sFile.empty()) return;
    if (!open.video.sFile.empty()) summary.video.sFile = InStreamDir(m_Segment.sFile, open.video.sFile);
    if (!open.audio.sFile.empty()) summary.audio.sFile = InStreamDir(m_Segment.sFile, open.audio.sFile);
    summary.segments.push_back(m_Segment);
}
