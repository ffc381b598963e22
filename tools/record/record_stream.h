// One recorded stream: the module's stream object, the subscriber that takes
// its frames and reports on the module's worker thread, the counters the
// progress line reads, and the writer the frames go to.
#pragma once

#include "JXObject.h"
#include "raw_writer.h"
#include "retry_policy.h"
#include "summary_json.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class IJXStream;

class CRecordStream : public CJXObject {
public:
    // sUrl as given (with its password, for Open only); sDir the stream's folder.
    CRecordStream(const std::string& sUrl, const std::string& sDir, std::unique_ptr<CMediaWriter> pWriter);
    ~CRecordStream() override;

    // Subscribes to the stream, opens and starts it. The stream stays owned by
    // the caller, who releases it after End.
    int32_t Begin(IJXStream* pStream);
    // Stops the stream (no callback runs after this), reads its description
    // and completes the files.
    void End();

    // The subscriber; runs on the module's worker thread.
    int OnMessage(CJXObject* pSender, uint32_t nCode, void* pParam1, void* pParam2);

    // Reports not yet taken, for state-change lines (host thread).
    void TakeNewReports(std::vector<JXStateReport>& reports);
    // The retry policy; before Begin.
    void SetRetryPolicy(const JXRetryPolicy& policy) { m_Policy = policy; }
    // Host thread: why the policy gives the stream up (a failure's verdict,
    // or too long without playing), empty while it goes on.
    std::string GiveUpReason(uint64_t nNowMs);
    // The last failure in words; empty when none.
    std::string LastFailureWords() const;
    // While recording, as of the last second or so (the frames' part is
    // taken on the worker thread), and complete after End.
    JXStreamSummary GetSummary() const;
    // The module's counts of a stream; unknown when the module cannot tell.
    static void ReadReception(IJXStream* pStream, JXReceptionSummary& video, JXReceptionSummary& audio);

    const std::string& GetDir() const { return m_Dir; }
    const std::string& GetLogUrl() const { return m_LogUrl; }

    // Read by the progress line while frames arrive.
    std::atomic<uint64_t> m_VideoFrames{0};
    std::atomic<uint64_t> m_AudioFrames{0};
    std::atomic<uint64_t> m_Bytes{0};
    std::atomic<int32_t> m_LastCode{0};   // last report's code, 0 before any
    std::atomic<int32_t> m_LastError{0};

private:
    void OnFrame(const class CPacket& frame);
    void OnReport(uint32_t nCode, int32_t nError);
    uint64_t SinceStartMs() const;
    // What the frames and the writer tell, copied for GetSummary (worker
    // thread while the stream runs, host thread after End).
    void Publish();

    std::string m_Url;
    std::string m_LogUrl;
    std::string m_Dir;
    std::unique_ptr<CMediaWriter> m_Writer;
    IJXStream* m_Stream = nullptr;
    uint64_t m_StartMs = 0;

    // Written on the worker, read after End (Stop orders the two).
    JXVideoSummary m_Video;
    JXAudioSummary m_Audio;
    uint16_t m_DescChannels = 0;   // the description's audio channels; 0 when it names none
    int64_t m_FirstFrameMs = -1;
    bool m_Played = false;
    uint32_t m_Reconnects = 0;
    std::string m_FirstJpeg;
    uint32_t m_JpegErrors = 0;
    uint64_t m_PublishedMs = 0;

    mutable std::mutex m_PublishMutex;   // taken once a second, not per frame
    JXStreamSummary m_Published;

    JXRetryPolicy m_Policy;
    std::unique_ptr<CRetryTracker> m_Retry;   // made by Begin

    mutable std::mutex m_ReportMutex;   // reports are rare; frames never take it
    JXFailureSummary m_LastFailure;
    std::string m_GiveUp;
    std::vector<JXStateReport> m_Reports;
    size_t m_ReportsTaken = 0;
    uint64_t m_ReportsDropped = 0;
};
