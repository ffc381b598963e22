// What one recorded stream or one probe found, and its JSON form. Built on the
// host's thread after the stream has stopped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One report the stream sent: 4101 (state, with its error) or 4102 (stopped
// after a failure, retried later), at a time since the stream was started.
struct JXStateReport {
    uint64_t nAtMs = 0;
    uint32_t nCode = 0;
    int32_t nError = 0;
    std::string sWhy;   // a failure in words and what follows it; empty otherwise
};

// Why the last attempt of a stream failed, as the module tells it; unknown
// (null in JSON) when no attempt failed or the module cannot tell.
struct JXFailureSummary {
    bool bKnown = false;
    std::string sPhase;      // "connecting", "describing", "setting up", "play", "keep-alive", "receiving"
    int32_t nStatus = 0;     // the server's status code; 0 (null in JSON) when no answer ended it
    std::string sReason;     // the status's reason phrase, or the cause in words
    std::string sText;       // the whole: "DESCRIBE: 404 Not Found"
    bool bRefused = false;   // authentication refused, or 404: trying again will not help
};

// What the module counted for one media stream, over every session of the
// recording. Unknown (null in JSON) when the module cannot tell.
struct JXReceptionSummary {
    bool bKnown = false;
    uint64_t nPacketsReceived = 0;
    uint64_t nPacketsLost = 0;   // missing from the sequence numbers
    uint64_t nFramesDelivered = 0;
    uint64_t nFramesDropped = 0;   // begun but never delivered (a lost piece)
    double fJitterMs = 0.0;        // interarrival jitter of the last session
};

struct JXVideoSummary {
    std::string sCodec;   // "h264", "h265", "jpeg"; empty when no video came
    uint32_t nWidth = 0;
    uint32_t nHeight = 0;
    double fFps = 0.0;
    uint64_t nFrames = 0;
    uint64_t nKeyFrames = 0;
    uint64_t nBytes = 0;
    std::string sFile;   // relative to the stream's folder; empty when none
    // Its frames_lost are the frames the module dropped; an outage, when the
    // camera sent nothing, loses none and shows as a gap in the file.
    JXReceptionSummary reception;
};

struct JXAudioSummary {
    std::string sCodec;   // "pcma", "pcmu", "aac"; empty when no audio came
    uint32_t nRate = 0;
    uint32_t nChannels = 0;
    uint64_t nFrames = 0;
    uint64_t nBytes = 0;
    std::string sFile;
    JXReceptionSummary reception;
};

// One file of a recording (a folder of elementary files with --raw).
struct JXSegmentSummary {
    std::string sFile;         // as opened, like the stream's dir
    int64_t nStartUtcMs = 0;   // the host's clock when its first frame came, ms since 1970 UTC
    uint64_t nFrames = 0;      // frames given to it, video and audio
    uint64_t nBytes = 0;       // their payload bytes
};

struct JXStreamSummary {
    std::string sUrl;   // without the password
    std::string sDir;
    JXVideoSummary video;
    JXAudioSummary audio;
    int64_t nFirstFrameMs = -1;   // -1: no frame came
    std::vector<JXStateReport> states;
    uint64_t nStatesDropped = 0;   // reports beyond the kept ones
    uint32_t nReconnects = 0;
    uint64_t nSkippedFrames = 0;   // frames no file could take (codec changed, size limit)
    uint64_t nWriteErrors = 0;
    std::string sFirstJpeg;   // "first.jpg" when written
    JXFailureSummary lastError;
    std::string sGaveUp;   // why the retry policy gave the stream up; empty when it did not
    std::vector<JXSegmentSummary> segments;   // the latest files, oldest first
    uint64_t nSegmentsDropped = 0;            // earlier files no longer listed
};

// One line of record --progress: a stream's state once a second.
struct JXProgressSample {
    std::string sUrl;     // without the password
    std::string sDir;
    std::string sState;   // "connecting", "playing", "retrying", "auth_refused", "no_data", "failed",
                          // "gave_up"
    uint64_t nFrames = 0;
    uint64_t nBytes = 0;
    double fKbits = 0.0;   // over the last second
    JXReceptionSummary video;
    JXReceptionSummary audio;
    uint64_t nElapsedMs = 0;
    int64_t nUtcMs = 0;
};

struct JXProbeResult {
    std::string sUrl;
    std::string sStatus;   // "ok", "auth_refused", "unreachable", "failed", "timeout"
    int32_t nError = 0;    // the state report's error, when one ended the probe
    JXVideoSummary video;
    JXAudioSummary audio;
    int64_t nFirstFrameMs = -1;
    JXFailureSummary lastError;
};

// Text as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& sText);
std::string SummaryToJson(const JXStreamSummary& summary);
std::string ProbeToJson(const JXProbeResult& result);
// One line of JSON, without its line feed.
std::string ProgressToJson(const JXProgressSample& sample);
