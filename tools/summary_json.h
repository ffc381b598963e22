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
};

struct JXVideoSummary {
    std::string sCodec;   // "h264", "h265", "jpeg"; empty when no video came
    uint32_t nWidth = 0;
    uint32_t nHeight = 0;
    double fFps = 0.0;
    uint64_t nFrames = 0;
    uint64_t nKeyFrames = 0;
    uint64_t nBytes = 0;
    // Frames missing between those received, from their times and the frame
    // rate: frames the module dropped for a lost packet, and an outage's.
    uint64_t nFramesLost = 0;
    std::string sFile;   // relative to the stream's folder; empty when none
};

struct JXAudioSummary {
    std::string sCodec;   // "pcma", "pcmu"; empty when no audio came
    uint32_t nRate = 0;
    uint32_t nChannels = 0;
    uint64_t nFrames = 0;
    uint64_t nBytes = 0;
    std::string sFile;
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
};

struct JXProbeResult {
    std::string sUrl;
    std::string sStatus;   // "ok", "auth_refused", "unreachable", "failed", "timeout"
    int32_t nError = 0;    // the state report's error, when one ended the probe
    JXVideoSummary video;
    JXAudioSummary audio;
    int64_t nFirstFrameMs = -1;
};

// Text as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& sText);
std::string SummaryToJson(const JXStreamSummary& summary);
std::string ProbeToJson(const JXProbeResult& result);
