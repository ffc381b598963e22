// A stream's recording cut into files: the first file at the first frame, a
// new one at the first video key frame after each boundary (a sound-only
// stream at the boundary itself). Sound follows the picture's cut: sound
// from before the key frame that arrives after it still goes into the file
// before, which stays open for it a little longer. Each file is named
// from the template at its wall-clock start and written by a writer of its
// own, which is freed with its file (a Matroska file's index with it).
#pragma once

#include "JXMediaDesc.h"
#include "raw_writer.h"
#include "segment_name.h"

#include <deque>
#include <functional>
#include <memory>
#include <string>

// When a stream's next file begins, from its frames' times alone (the
// camera's clock: arrival jitter cannot move a cut by a picture).
class CSegmentClock {
public:
    // nLengthMs 0: one file for the whole recording.
    explicit CSegmentClock(int64_t nLengthMs) : m_LengthMs(nLengthMs) {}
    // True when this frame begins a file: the first frame, and one that may
    // begin a file (bCanBegin) at or past the boundary. Boundaries follow each
    // other every nLengthMs; after a jump of the stream's time (back, or ahead
    // by more than a file) they start again from the frame that begins a file.
    bool Begins(int64_t nFrameMs, bool bCanBegin);

private:
    int64_t m_LengthMs;
    bool m_Started = false;
    int64_t m_BoundaryMs = 0;
};

// What a stream's files are called and where they go.
struct JXSegmentPlan {
    std::string sOut;         // names are relative to this folder
    std::string sStreamDir;   // the stream's own folder (made, empty)
    std::string sTemplate;    // without the writer's extension
    JXNameFields fields;      // %host and %path
    int64_t nLengthMs = 0;    // 0: one file
    bool bFolders = false;    // each file a folder of elementary files (--raw), else one .mkv
};

class CSegmentWriter : public CMediaWriter {
public:
    // A writer for one file at sPath (a folder with bFolders) that starts at nStartUtcMs.
    typedef std::function<std::unique_ptr<CMediaWriter>(const std::string& sPath, int64_t nStartUtcMs)> JXMakeWriter;

    CSegmentWriter(const JXSegmentPlan& plan, JXMakeWriter makeWriter);
    ~CSegmentWriter() override;
    void SetMediaDesc(const JXVideoDesc* pVideo, const JXAudioDesc* pAudio) override;
    void WriteVideo(const CPacket& frame) override;
    void WriteAudio(const CPacket& frame) override;
    void Close() override;
    void Fill(JXStreamSummary& summary) const override;

private:
    // bByPicture: at a key frame of time nCutMs, with sound to follow it.
    void Begin(bool bSoundOnly, bool bByPicture, int64_t nCutMs);
    void Finish(std::unique_ptr<CMediaWriter>& pWriter, const JXSegmentSummary& segment);
    void FinishPrevious();
    static void Count(JXSegmentSummary& segment, const CPacket& frame);
    // A closed or open file into the summary, when it holds frames.
    void Add(JXStreamSummary& summary, CMediaWriter& writer, const JXSegmentSummary& segment) const;
    // A file's path as the summary's video and audio "file" give it: relative
    // to the stream's folder when inside it.
    std::string InStreamDir(const std::string& sSegment, const std::string& sName) const;

    JXSegmentPlan m_Plan;
    JXMakeWriter m_MakeWriter;
    CSegmentClock m_Clock;
    std::unique_ptr<CMediaWriter> m_Writer;   // the open file's; null between files or when none could be made
    JXSegmentSummary m_Segment;               // the open file's
    std::unique_ptr<CMediaWriter> m_Previous;   // the file before, open for the sound before m_CutMs
    JXSegmentSummary m_PreviousSegment;
    int64_t m_CutMs = 0;
    std::deque<JXSegmentSummary> m_Done;      // the latest closed ones
    uint64_t m_Dropped = 0;                   // closed ones no longer listed
    uint32_t m_Number = 0;
    bool m_Closed = false;

    bool m_HasVideoDesc = false;
    bool m_HasAudioDesc = false;
    JXVideoDesc m_VideoDesc;
    JXAudioDesc m_AudioDesc;
    bool m_SawVideo = false;

    // Of closed writers, and the names the last one wrote.
    uint64_t m_Skipped = 0;
    uint64_t m_Errors = 0;
    std::string m_LastVideoFile;
    std::string m_LastAudioFile;
};
