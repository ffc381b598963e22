// Frame times from the camera's own clock. A stream's RTP timestamps are
// mapped onto our clock: anchored at the first frame's arrival, every later
// frame lies its timestamp distance from the anchor, so arrival jitter, a
// silence or a varying frame rate change nothing but the true spacing. When
// the server sends sender reports, both streams of a session are mapped
// through the camera's wall clock instead, so that sound and picture line up
// whatever offsets their RTP clocks started at.
#pragma once

#include "JXRtspDefs.h"

// What the streams of one session share: where the camera's wall clock lies
// on our monotonic clock, and where our monotonic clock lies on the wall.
class JXRTSP_API CRTPSessionClock {
public:
    // Forget both offsets (a new session).
    void Reset();

    bool m_HasCameraOffset = false;
    int64_t m_CameraOffsetMs = 0;   // our monotonic ms less the camera's wall-clock ms
    bool m_HasWallOffset = false;
    int64_t m_WallOffsetMs = 0;     // wall-clock ms since 1970 less monotonic ms
    // The session has a video stream: its times lead, and the audio moves
    // onto the camera's clock only once the video has put it on our line.
    bool m_HasVideo = false;
};

// The median spacing of the last frames, as frames a second: a gap, dropped
// frames or a change of rate move it only once most of the window has it.
class JXRTSP_API CFrameRateMedian {
public:
    static constexpr uint32_t kWindow = 16;
    static constexpr double kDefaultRate = 25.0;

    void Reset();
    // One frame's RTP timestamp; the spacing from the one before is kept when
    // the timestamp moved forwards.
    void OnFrame(uint32_t nTimeStamp);
    // Frames a second on a clock of nRate ticks; kDefaultRate before any spacing.
    double Rate(uint32_t nRate) const;

private:
    uint32_t m_Spacing[kWindow] = {};
    uint32_t m_Count = 0;   // spacings held, up to kWindow
    uint32_t m_Next = 0;    // where the next spacing goes
    uint32_t m_Last = 0;
    bool m_HasLast = false;
};

// Maps one stream's RTP timestamps onto our monotonic clock.
class JXRTSP_API CRTPClock {
public:
    // The mapping is renewed when it and the arrival drift apart by more.
    static constexpr int64_t kMaxDriftMs = 1000;
    // Clock rates when the description names none.
    static constexpr uint32_t kVideoRate = 90000;
    static constexpr uint32_t kAudioRate = 8000;

    explicit CRTPClock(uint32_t nRate = kVideoRate);

    // The stream's clock rate; 0 keeps the one there is.
    void SetRate(uint32_t nRate);
    uint32_t GetRate() const { return m_Rate; }
    // The session's shared offsets; null: this clock keeps its own.
    void SetSession(CRTPSessionClock* pSession);
    // A video stream's clock (the others follow it onto the camera's clock).
    void SetVideo(bool bVideo) { m_Video = bVideo; }
    // Forget the anchor and the sender report (a new SSRC).
    void Reset();
    // A sender report: RTP time nRtp is the camera's 64-bit NTP time nNtp.
    void OnSenderReport(uint32_t nRtp, uint64_t nNtp);
    // The monotonic time of a frame with timestamp nTimeStamp, complete at
    // nNowMs. Never earlier than the time of the frame before.
    int64_t FrameTime(uint32_t nTimeStamp, int64_t nNowMs);
    // The same as wall-clock ms since 1970, for the frame's stamp.
    int64_t ToWallMs(int64_t nMonotonicMs);
    // Times the mapping was renewed after it drifted from the arrival.
    uint32_t GetReanchors() const { return m_Reanchors; }
    bool HasSenderReport() const { return m_HasReport; }

private:
    // nTimeStamp on a 64-bit line that does not wrap: the nearest to the last one.
    int64_t Unwrap(uint32_t nTimeStamp);
    int64_t TicksToMs(int64_t nTicks) const;
    // Camera wall-clock ms of an unwrapped timestamp, through the sender report.
    int64_t CameraMs(int64_t nTicks) const;
    // bViaReport: the time came through the camera's clock, whose offset is renewed too.
    void Reanchor(int64_t nTicks, int64_t nNowMs, int64_t nDriftMs, bool bViaReport);

    uint32_t m_Rate;
    CRTPSessionClock m_OwnSession;
    CRTPSessionClock* m_Session;
    bool m_HasLast = false;
    uint32_t m_LastRaw = 0;
    int64_t m_LastTicks = 0;
    bool m_HasAnchor = false;
    int64_t m_AnchorTicks = 0;
    int64_t m_AnchorMs = 0;
    bool m_HasReport = false;
    int64_t m_ReportTicks = 0;   // unwrapped when it arrived, to the stream's line
    uint32_t m_ReportRaw = 0;
    int64_t m_ReportCameraMs = 0;
    bool m_HasOut = false;
    int64_t m_LastOutMs = 0;
    uint32_t m_Reanchors = 0;
    bool m_ReportLogged = false;
    bool m_Video = false;
};
