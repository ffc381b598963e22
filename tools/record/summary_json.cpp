#include "summary_json.h"

#include "segment_name.h"

#include <cstdio>

namespace {

const unsigned char kFirstPrintable = 0x20;

void AddField(std::string& sOut, const char* pName, const std::string& sValue)
{
    sOut += JsonQuote(pName) + ": " + sValue;
}

std::string Number(uint64_t n)
{
    return std::to_string(n);
}

std::string Signed(int64_t n)
{
    return std::to_string(n);
}

std::string Real(double f)
{
    char text[32];
    snprintf(text, sizeof(text), "%.3f", f);
    return text;
}

// Counts of the module, or null when it cannot tell.
std::string Count(const JXReceptionSummary& r, uint64_t n)
{
    return r.bKnown ? Number(n) : "null";
}

void AddReception(std::string& s, const JXReceptionSummary& r)
{
    s += ", ";
    AddField(s, "packets_received", Count(r, r.nPacketsReceived));
    s += ", ";
    AddField(s, "packets_lost", Count(r, r.nPacketsLost));
    s += ", ";
    AddField(s, "frames_delivered", Count(r, r.nFramesDelivered));
    s += ", ";
    AddField(s, "frames_dropped", Count(r, r.nFramesDropped));
    s += ", ";
    AddField(s, "jitter_ms", r.bKnown ? Real(r.fJitterMs) : "null");
}

std::string VideoToJson(const JXVideoSummary& v, bool bCounts)
{
    if (v.sCodec.empty()) return "null";
    std::string s = "{";
    AddField(s, "codec", JsonQuote(v.sCodec));
    s += ", ";
    AddField(s, "width", Number(v.nWidth));
    s += ", ";
    AddField(s, "height", Number(v.nHeight));
    s += ", ";
    AddField(s, "fps", Real(v.fFps));
    if (bCounts) {
        s += ", ";
        AddField(s, "frames", Number(v.nFrames));
        s += ", ";
        AddField(s, "key_frames", Number(v.nKeyFrames));
        s += ", ";
        AddField(s, "bytes", Number(v.nBytes));
        s += ", ";
        AddField(s, "frames_lost", Count(v.reception, v.reception.nFramesDropped));
        s += ", ";
        AddField(s, "file", JsonQuote(v.sFile));
        AddReception(s, v.reception);
    }
    return s + "}";
}

std::string AudioToJson(const JXAudioSummary& a, bool bCounts)
{
    if (a.sCodec.empty()) return "null";
    std::string s = "{";
    AddField(s, "codec", JsonQuote(a.sCodec));
    s += ", ";
    AddField(s, "rate", Number(a.nRate));
    s += ", ";
    AddField(s, "channels", Number(a.nChannels));
    if (bCounts) {
        s += ", ";
        AddField(s, "frames", Number(a.nFrames));
        s += ", ";
        AddField(s, "bytes", Number(a.nBytes));
        s += ", ";
        AddField(s, "file", JsonQuote(a.sFile));
        AddReception(s, a.reception);
    }
    return s + "}";
}

std::string FailureToJson(const JXFailureSummary& f)
{
    if (!f.bKnown) return "null";
    std::string s = "{";
    AddField(s, "phase", JsonQuote(f.sPhase));
    s += ", ";
    AddField(s, "status", f.nStatus != 0 ? Signed(f.nStatus) : "null");
    s += ", ";
    AddField(s, "reason", JsonQuote(f.sReason));
    s += ", ";
    AddField(s, "text", JsonQuote(f.sText));
    return s + "}";
}

std::string SegmentsToJson(const std::vector<JXSegmentSummary>& segments)
{
    std::string s = "[";
    for (size_t i = 0; i < segments.size(); ++i) {
        const JXSegmentSummary& g = segments[i];
        s += i == 0 ? "\n    {" : ",\n    {";
        AddField(s, "file", JsonQuote(g.sFile));
        s += ", ";
        AddField(s, "start_utc", JsonQuote(UtcText(g.nStartUtcMs)));
        s += ", ";
        AddField(s, "frames", Number(g.nFrames));
        s += ", ";
        AddField(s, "bytes", Number(g.nBytes));
        s += "}";
    }
    return s + "]";
}

// Lost counts of both media, or null when the module cannot tell.
std::string LostSum(const JXReceptionSummary& v, const JXReceptionSummary& a, uint64_t JXReceptionSummary::*pCount)
{
    return v.bKnown ? Number(v.*pCount + a.*pCount) : "null";
}

std::string FirstFrame(int64_t nMs)
{
    return nMs < 0 ? "null" : Signed(nMs);
}

}   // namespace

std::string JsonQuote(const std::string& sText)
{
    std::string s = "\"";
    for (unsigned char c : sText) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += char(c);
        } else if (c < kFirstPrintable) {
            char esc[8];
            snprintf(esc, sizeof(esc), "\\u%04x", c);
            s += esc;
        } else {
            s += char(c);
        }
    }
    return s + "\"";
}

std::string SummaryToJson(const JXStreamSummary& sum)
{
    std::string s = "{";
    AddField(s, "url", JsonQuote(sum.sUrl));
    s += ", ";
    AddField(s, "dir", JsonQuote(sum.sDir));
    s += ",\n  ";
    AddField(s, "video", VideoToJson(sum.video, true));
    s += ",\n  ";
    AddField(s, "audio", AudioToJson(sum.audio, true));
    s += ",\n  ";
    AddField(s, "first_frame_ms", FirstFrame(sum.nFirstFrameMs));
    s += ", ";
    AddField(s, "reconnects", Number(sum.nReconnects));
    s += ", ";
    AddField(s, "skipped_frames", Number(sum.nSkippedFrames));
    s += ", ";
    AddField(s, "write_errors", Number(sum.nWriteErrors));
    s += ", ";
    AddField(s, "first_jpeg", sum.sFirstJpeg.empty() ? "null" : JsonQuote(sum.sFirstJpeg));
    s += ",\n  ";
    std::string states = "[";
    for (size_t i = 0; i < sum.states.size(); ++i) {
        const JXStateReport& r = sum.states[i];
        if (i != 0) states += ", ";
        states += "{\"at_ms\": " + Number(r.nAtMs) + ", \"code\": " + Number(r.nCode) +
                  ", \"error\": " + Signed(r.nError) + "}";
    }
    AddField(s, "states", states + "]");
    s += ", ";
    AddField(s, "states_dropped", Number(sum.nStatesDropped));
    s += ",\n  ";
    AddField(s, "segments", SegmentsToJson(sum.segments));
    s += ", ";
    AddField(s, "segments_dropped", Number(sum.nSegmentsDropped));
    s += ",\n  ";
    AddField(s, "last_error", FailureToJson(sum.lastError));
    s += ", ";
    AddField(s, "gave_up", sum.sGaveUp.empty() ? "null" : JsonQuote(sum.sGaveUp));
    return s + "}";
}

std::string ProbeToJson(const JXProbeResult& r)
{
    std::string s = "{";
    AddField(s, "url", JsonQuote(r.sUrl));
    s += ", ";
    AddField(s, "status", JsonQuote(r.sStatus));
    s += ", ";
    AddField(s, "error", Signed(r.nError));
    s += ", ";
    AddField(s, "video", VideoToJson(r.video, false));
    s += ", ";
    AddField(s, "audio", AudioToJson(r.audio, false));
    s += ", ";
    AddField(s, "first_frame_ms", FirstFrame(r.nFirstFrameMs));
    s += ", ";
    AddField(s, "last_error", FailureToJson(r.lastError));
    return s + "}";
}

std::string ProgressToJson(const JXProgressSample& p)
{
    std::string s = "{";
    AddField(s, "time", JsonQuote(UtcText(p.nUtcMs)));
    s += ", ";
    AddField(s, "url", JsonQuote(p.sUrl));
    s += ", ";
    AddField(s, "dir", JsonQuote(p.sDir));
    s += ", ";
    AddField(s, "state", JsonQuote(p.sState));
    s += ", ";
    AddField(s, "frames", Number(p.nFrames));
    s += ", ";
    AddField(s, "bytes", Number(p.nBytes));
    s += ", ";
    AddField(s, "bitrate_kbps", Real(p.fKbits));
    s += ", ";
    AddField(s, "packets_lost", LostSum(p.video, p.audio, &JXReceptionSummary::nPacketsLost));
    s += ", ";
    AddField(s, "frames_lost", LostSum(p.video, p.audio, &JXReceptionSummary::nFramesDropped));
    s += ", ";
    AddField(s, "elapsed_s", Real(double(p.nElapsedMs) / 1000.0));
    return s + "}";
}
