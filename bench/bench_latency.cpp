// Frame latency of the module: from the moment a server has written a video
// frame's last RTP packet to the moment the module's subscriber hears that
// frame (message 2106), for an H.264 stream at a few frame rates.
//
// The server is a small RTSP server on 127.0.0.1 on a thread of this program:
// DESCRIBE (H.264, payload type 96, sprop-parameter-sets), SETUP (interleaved
// channels 0-1), PLAY, then one frame a period, each one slice cut into three
// FU-A packets, the marker bit on the last one (RFC 6184), timestamps on the
// 90 kHz clock. Right after the write of a frame's last packet it reads
// steady_clock; the subscriber reads the same clock on the module's worker.
// Each slice carries its frame number in its payload, so a frame is matched by
// what it holds, not by arrival order (a dropped frame shows as missing).
//
// The module is reached the way a host reaches it: loaded at run time
// (CModuleHost: JXRTSPGetAPI, JXRTSPGetInterface), streams through IJXStream's
// slots. So the same program measures another build of the module:
//   bench_latency --module /path/to/libJXRtsp.so
// (with LD_LIBRARY_PATH pointing at that build's libJXBase.so as well).
//
// Per rate, the first frames are a warm-up, sent and not measured (10 by
// default, --warmup): the first comes right after PLAY and carries the
// session's set-up, and a receiver may trust the marker bit only after it has
// seen it agree with the timestamps over a few frames, handing the frames
// before on when their successor begins. Then N frames are measured, and one
// more follows them, as a camera would go on sending; it is not measured.
// --warmup 1 and --verbose show the first frames of a session as well.
#include "JXBase.h"
#include "module_host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

typedef std::chrono::steady_clock Clock;

const uint8_t kPayloadType = 96;
const uint32_t kSsrc = 0x4A584C54;
const uint32_t kClockHz = 90000;
const int kPacketsPerFrame = 3;
const size_t kKeySliceBytes = 3600;
const size_t kSliceBytes = 2400;
const int kKeyInterval = 25;   // frames from one IDR to the next
const int kAcceptWaitMs = 5000;
const int kDefaultWarmup = 10;
// How long after the last frame's write the subscriber may still hear it.
const int kGraceMs = 2000;
// A 320x240 baseline SPS and its PPS.
const char* kSprop = "Z0LAFdoFB+wFqDAwNSgAAAMACAAAAwGUeLF1,aM48gA==";
// Written into each slice after its first byte, then the frame number as 8
// hex digits: bytes no start code or header of the stream can hold.
const char kTag[] = "JXLAT";
const size_t kTagBytes = sizeof(kTag) - 1;

struct CRate {
    int nFps = 0;
    int nFrames = 0;   // measured
    int nWarmup = 0;   // sent before them, not measured

    int First() const { return nWarmup; }
    int Last() const { return nWarmup + nFrames - 1; }
    // The measured ones, and one more after them.
    int ToSend() const { return nWarmup + nFrames + 1; }
};

// What one rate's run saw. Times are steady_clock; zero: never.
struct CRun {
    std::vector<Clock::time_point> m_Sent;       // per frame sent
    std::vector<Clock::time_point> m_Received;   // likewise
    std::string m_ServerError;
};

// ---------------------------------------------------------------------------
// The server

class CLatencyServer {
public:
    CLatencyServer(const CRate& rate, CRun& run) : m_Rate(rate), m_Run(run) {}
    ~CLatencyServer()
    {
        Stop();
        if (m_Listen != JX_INVALID_SOCKET) JXSocketClose(m_Listen);
    }

    bool Listen()
    {
        m_Listen = JXSocketListenTCP("127.0.0.1", 0, 4, &m_Port);
        return m_Listen != JX_INVALID_SOCKET;
    }
    std::string Url() const { return "rtsp://127.0.0.1:" + std::to_string(m_Port) + "/latency"; }
    void Start()
    {
        m_Thread = std::thread([this] { Run(); });
    }
    void Stop()
    {
        m_Stop = true;
        if (m_Thread.joinable()) m_Thread.join();
    }
    // Time by which every frame has been written (zero until the last one is).
    Clock::time_point LastSent() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_LastSent;
    }

private:
    void Run()
    {
        const std::string sError = Serve();
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Run.m_ServerError = sError;
        if (m_LastSent == Clock::time_point()) m_LastSent = Clock::now();
    }

    std::string Serve()
    {
        const Clock::time_point acceptBy = Clock::now() + std::chrono::milliseconds(kAcceptWaitMs);
        while (m_Conn == JX_INVALID_SOCKET) {
            if (m_Stop || Clock::now() > acceptBy) return "no connection";
            CJXFdSet readSet;
            readSet.Add(m_Listen);
            if (JXSelect(&readSet, nullptr, 20) > 0) m_Conn = JXSocketAccept(m_Listen);
        }
        JXSocketSetOptInt(m_Conn, IPPROTO_TCP, TCP_NODELAY, 1);
        std::string sError;
        const auto period = std::chrono::microseconds(1000000 / m_Rate.nFps);
        while (!m_Stop && sError.empty()) {
            int32_t nWaitMs = 20;
            if (m_Playing && m_NextFrame < m_Rate.ToSend()) {
                const Clock::time_point due = m_PlayAt + period * m_NextFrame;
                const Clock::time_point now = Clock::now();
                if (now >= due) {
                    sError = SendFrame(m_NextFrame);
                    ++m_NextFrame;
                    continue;
                }
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
                nWaitMs = int32_t(std::min<long long>(left, 20));
            }
            CJXFdSet readSet;
            readSet.Add(m_Conn);
            const int32_t nReady = JXSelect(&readSet, nullptr, nWaitMs);
            if (nReady < 0) return "select failed";
            if (nReady == 0) continue;
            char buf[4096];
            const int32_t n = JXSocketRecv(m_Conn, buf, sizeof(buf));
            if (n == 0) break;   // the client closed
            if (n < 0) {
                if (JXSocketLastError() == JX_NET_ERR_WOULDBLOCK) continue;
                break;
            }
            m_In.append(buf, size_t(n));
            sError = Answer();
        }
        JXSocketClose(m_Conn);
        m_Conn = JX_INVALID_SOCKET;
        return sError;
    }

    // Every whole request that has come in, answered.
    std::string Answer()
    {
        for (;;) {
            const size_t nEnd = m_In.find("\r\n\r\n");
            if (nEnd == std::string::npos) return "";
            const std::string head = m_In.substr(0, nEnd + 4);
            const size_t nBody = size_t(atoi(HeaderValue(head, "Content-Length").c_str()));
            if (m_In.size() < nEnd + 4 + nBody) return "";
            m_In.erase(0, nEnd + 4 + nBody);
            const std::string method = head.substr(0, head.find(' '));
            std::string reply = "RTSP/1.0 200 OK\r\nCSeq: " + HeaderValue(head, "CSeq") + "\r\n";
            if (method == "OPTIONS") {
                reply += "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER\r\n\r\n";
            } else if (method == "DESCRIBE") {
                const std::string sdp = Sdp();
                reply += "Content-Base: " + Url() +
                         "/\r\nContent-Type: application/sdp\r\nContent-Length: " + std::to_string(sdp.size()) +
                         "\r\n\r\n" + sdp;
            } else if (method == "SETUP") {
                reply += "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\nSession: 4242;timeout=60\r\n\r\n";
            } else if (method == "PLAY") {
                reply += "Session: 4242\r\nRange: npt=0.000-\r\n\r\n";
            } else {
                reply += "Session: 4242\r\n\r\n";
            }
            const std::string sError = Write(reply.data(), reply.size());
            if (!sError.empty()) return sError;
            if (method == "PLAY" && !m_Playing) {
                m_Playing = true;
                m_PlayAt = Clock::now();
            }
        }
    }

    std::string Sdp() const
    {
        return "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=latency\r\nt=0 0\r\na=control:*\r\n"
               "m=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:96 H264/90000\r\n"
               "a=framerate:" +
               std::to_string(m_Rate.nFps) + "\r\na=fmtp:96 packetization-mode=1;profile-level-id=42c015;" +
               "sprop-parameter-sets=" + kSprop + "\r\na=control:track1\r\n";
    }

    static std::string HeaderValue(const std::string& head, const char* pName)
    {
        const std::string name = std::string("\r\n") + pName + ":";
        auto it = std::search(head.begin(), head.end(), name.begin(), name.end(),
                              [](char a, char b) { return tolower(uint8_t(a)) == tolower(uint8_t(b)); });
        if (it == head.end()) return "";
        size_t nAt = size_t(it - head.begin()) + name.size();
        while (nAt < head.size() && head[nAt] == ' ')
            ++nAt;
        return head.substr(nAt, head.find("\r\n", nAt) - nAt);
    }

    // One frame: its slice in three FU-A packets, each framed and written on
    // its own; the time is read once the last one is written.
    std::string SendFrame(int nFrame)
    {
        const bool bKey = nFrame % kKeyInterval == 0;
        const uint8_t nNalType = bKey ? 5 : 1;
        const uint8_t nNri = 0x60;
        // The slice after its NAL header: first_mb_in_slice 0 and a slice
        // type, the frame's tag, then filler free of zero bytes.
        std::string slice(bKey ? kKeySliceBytes : kSliceBytes, char(0xA5));
        slice[0] = char(0x88);
        char tag[kTagBytes + 9];
        snprintf(tag, sizeof(tag), "%s%08X", kTag, unsigned(nFrame));
        memcpy(&slice[1], tag, kTagBytes + 8);

        const uint32_t nTime = uint32_t(uint64_t(nFrame) * kClockHz / uint32_t(m_Rate.nFps));
        const size_t nPiece = (slice.size() + kPacketsPerFrame - 1) / kPacketsPerFrame;
        std::string out;
        for (int i = 0; i < kPacketsPerFrame; ++i) {
            const bool bFirst = i == 0;
            const bool bLast = i == kPacketsPerFrame - 1;
            const size_t nAt = size_t(i) * nPiece;
            const size_t nLen = std::min(nPiece, slice.size() - nAt);
            uint8_t head[14];
            head[0] = 0x80;
            head[1] = uint8_t((bLast ? 0x80 : 0x00) | kPayloadType);
            head[2] = uint8_t(m_Seq >> 8);
            head[3] = uint8_t(m_Seq);
            head[4] = uint8_t(nTime >> 24);
            head[5] = uint8_t(nTime >> 16);
            head[6] = uint8_t(nTime >> 8);
            head[7] = uint8_t(nTime);
            head[8] = uint8_t(kSsrc >> 24);
            head[9] = uint8_t(kSsrc >> 16);
            head[10] = uint8_t(kSsrc >> 8);
            head[11] = uint8_t(kSsrc);
            head[12] = uint8_t(nNri | 28);   // FU indicator: FU-A
            head[13] = uint8_t((bFirst ? 0x80 : 0) | (bLast ? 0x40 : 0) | nNalType);
            ++m_Seq;
            const size_t nRtp = sizeof(head) + nLen;
            out.assign(1, '$');
            out += char(0);   // channel 0: RTP
            out += char(nRtp >> 8);
            out += char(nRtp & 0xFF);
            out.append(reinterpret_cast<const char*>(head), sizeof(head));
            out.append(slice, nAt, nLen);
            const std::string sError = Write(out.data(), out.size());
            if (!sError.empty()) return sError;
        }
        const Clock::time_point sent = Clock::now();
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Run.m_Sent[size_t(nFrame)] = sent;
        if (nFrame + 1 == m_Rate.ToSend()) m_LastSent = sent;
        return "";
    }

    // The whole buffer, waiting (bounded) while the connection's buffer is full.
    std::string Write(const char* p, size_t n)
    {
        const Clock::time_point giveUpAt = Clock::now() + std::chrono::seconds(2);
        while (n > 0) {
            const int32_t nSent = JXSocketSend(m_Conn, p, int32_t(n));
            if (nSent > 0) {
                p += nSent;
                n -= size_t(nSent);
                continue;
            }
            if (nSent < 0 && JXSocketLastError() != JX_NET_ERR_WOULDBLOCK) return "send failed";
            if (m_Stop || Clock::now() > giveUpAt) return "send blocked";
            CJXFdSet writeSet;
            writeSet.Add(m_Conn);
            JXSelect(nullptr, &writeSet, 10);
        }
        return "";
    }

    const CRate m_Rate;
    CRun& m_Run;
    JXSOCKET m_Listen = JX_INVALID_SOCKET;
    JXSOCKET m_Conn = JX_INVALID_SOCKET;
    uint16_t m_Port = 0;
    std::string m_In;
    bool m_Playing = false;
    Clock::time_point m_PlayAt;
    int m_NextFrame = 0;
    uint16_t m_Seq = 1000;
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
    mutable std::mutex m_Mutex;   // m_Run's times, m_LastSent
    Clock::time_point m_LastSent;
};

// ---------------------------------------------------------------------------
// The subscriber: runs on the module's worker.

class CLatencySubscriber : public CJXObject {
public:
    explicit CLatencySubscriber(CRun& run) : m_Run(run) {}

    int OnMessage(CJXObject*, uint32_t nCode, void* pParam1, void*)
    {
        if (nCode != JXRTSP_MSG_FRAME || pParam1 == nullptr) return 0;
        const Clock::time_point now = Clock::now();
        const CPacket& frame = *static_cast<const CPacket*>(pParam1);
        if (!frame.FrameIsVideo()) return 0;
        const int nFrame = FrameNumber(frame);
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (nFrame < 0 || size_t(nFrame) >= m_Run.m_Received.size()) {
            ++m_Unknown;
        } else if (m_Run.m_Received[size_t(nFrame)] == Clock::time_point()) {
            m_Run.m_Received[size_t(nFrame)] = now;
        }
        m_Changed.notify_all();
        return 0;
    }

    // Until the frames nFirst..nLast have all been heard, or the time is up.
    void WaitFor(int nFirst, int nLast, Clock::time_point until)
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Changed.wait_until(lock, until, [&] {
            for (int i = nFirst; i <= nLast; ++i) {
                if (m_Run.m_Received[size_t(i)] == Clock::time_point()) return false;
            }
            return true;
        });
    }
    std::vector<Clock::time_point> Received()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Run.m_Received;
    }
    int Unknown()
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Unknown;
    }

private:
    static int FrameNumber(const CPacket& frame)
    {
        const char* p = reinterpret_cast<const char*>(frame.FrameGetData());
        const char* pEnd = p + frame.FrameGetLength();
        const char* pTag = std::search(p, pEnd, kTag, kTag + kTagBytes);
        if (pEnd - pTag < ptrdiff_t(kTagBytes + 8)) return -1;
        return int(strtoul(std::string(pTag + kTagBytes, 8).c_str(), nullptr, 16));
    }

    CRun& m_Run;
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    int m_Unknown = 0;
};

// ---------------------------------------------------------------------------

struct CResult {
    int nMeasured = 0;
    int nMissing = 0;
    double fMedianMs = 0;
    double fP90Ms = 0;
    double fMaxMs = 0;
    double fMinMs = 0;
};

// Nearest rank: the smallest value with at least q of the values at or below it.
double Percentile(const std::vector<double>& sorted, double q)
{
    size_t nRank = size_t(q * double(sorted.size()) + 0.999999);
    if (nRank < 1) nRank = 1;
    return sorted[std::min(nRank, sorted.size()) - 1];
}

bool RunRate(CModuleHost& host, const CRate& rate, bool bVerbose, CResult& result)
{
    CRun run;
    run.m_Sent.resize(size_t(rate.ToSend()));
    run.m_Received.resize(size_t(rate.ToSend()));
    CLatencyServer server(rate, run);
    if (!server.Listen()) {
        fprintf(stderr, "bench_latency: cannot listen on 127.0.0.1\n");
        return false;
    }
    server.Start();

    CLatencySubscriber subscriber(run);
    const std::string url = server.Url();
    IJXStream* pStream = host.CreateStream(url.c_str());
    if (pStream == nullptr) return false;
    pStream->Attach(&subscriber, JX_SIGNAL_FUNC(&CLatencySubscriber::OnMessage));
    int nRet = pStream->Open(url.c_str());
    if (nRet == JX_OK) nRet = pStream->Start();
    if (nRet != JX_OK) fprintf(stderr, "bench_latency: the stream did not start (%d)\n", nRet);

    // Every frame is written by as many periods after PLAY as there are
    // frames; the wait is bounded by that, the set-up, and the grace.
    const auto period = std::chrono::microseconds(1000000 / rate.nFps);
    const Clock::time_point hardEnd = Clock::now() + std::chrono::milliseconds(kAcceptWaitMs) + period * rate.ToSend() +
                                      std::chrono::milliseconds(kGraceMs);
    if (nRet == JX_OK) {
        subscriber.WaitFor(rate.First(), rate.Last(), hardEnd);
        // Frames still missing get their grace after the last write.
        const Clock::time_point lastSent = server.LastSent();
        if (lastSent != Clock::time_point()) {
            subscriber.WaitFor(rate.First(), rate.Last(),
                               std::min(hardEnd, lastSent + std::chrono::milliseconds(kGraceMs)));
        }
    }
    pStream->Stop();
    pStream->Detach(&subscriber, JX_SIGNAL_FUNC(&CLatencySubscriber::OnMessage));
    pStream->Release();
    server.Stop();

    if (!run.m_ServerError.empty()) fprintf(stderr, "bench_latency: server: %s\n", run.m_ServerError.c_str());
    if (subscriber.Unknown() != 0) {
        fprintf(stderr, "bench_latency: %d video frames without a frame number\n", subscriber.Unknown());
    }
    const std::vector<Clock::time_point> received = subscriber.Received();
    std::vector<double> latencies;
    for (int i = 0; i < rate.ToSend(); ++i) {
        const Clock::time_point sent = run.m_Sent[size_t(i)];
        const Clock::time_point heard = received[size_t(i)];
        const bool bMeasured = i >= rate.First() && i <= rate.Last();
        if (sent == Clock::time_point() || heard == Clock::time_point()) {
            if (bMeasured) ++result.nMissing;
            continue;
        }
        const double fMs = std::chrono::duration<double, std::milli>(heard - sent).count();
        if (bMeasured) latencies.push_back(fMs);
        if (bVerbose) {
            fprintf(stderr, "%d fps, frame %3d: %8.3f ms%s\n", rate.nFps, i, fMs,
                    bMeasured ? "" : (i < rate.First() ? " (warm-up)" : " (after the measured frames)"));
        }
    }
    result.nMeasured = int(latencies.size());
    if (latencies.empty()) return true;
    std::sort(latencies.begin(), latencies.end());
    const size_t n = latencies.size();
    result.fMedianMs = n % 2 == 1 ? latencies[n / 2] : (latencies[n / 2 - 1] + latencies[n / 2]) / 2;
    result.fP90Ms = Percentile(latencies, 0.9);
    result.fMaxMs = latencies.back();
    result.fMinMs = latencies.front();
    return true;
}

void DropLogLine(const char*, void*) {}

void Usage()
{
    fprintf(stderr, "usage: bench_latency [--module PATH] [--rate FPS:FRAMES]... [--warmup K] [--verbose]\n"
                    "  --module PATH     the module to load (default: libJXRtsp beside this program)\n"
                    "  --rate FPS:FRAMES a frame rate and how many frames to measure at it;\n"
                    "                    repeatable (default: 25:50 and 1:8)\n"
                    "  --warmup K        frames sent first and not measured, per rate (default 10, at least 1)\n"
                    "  --verbose         every frame's latency, and the module's log on standard error\n");
}

}   // namespace

int main(int argc, char** argv)
{
    std::string sModule;
    std::vector<CRate> rates;
    bool bVerbose = false;
    int nWarmup = kDefaultWarmup;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--module" && i + 1 < argc) {
            sModule = argv[++i];
        } else if (arg == "--rate" && i + 1 < argc) {
            CRate rate;
            if (sscanf(argv[++i], "%d:%d", &rate.nFps, &rate.nFrames) != 2 || rate.nFps < 1 || rate.nFps > 1000 ||
                rate.nFrames < 1 || rate.nFrames > 100000) {
                Usage();
                return 2;
            }
            rates.push_back(rate);
        } else if (arg == "--warmup" && i + 1 < argc) {
            nWarmup = atoi(argv[++i]);
            if (nWarmup < 1 || nWarmup > 10000) {
                Usage();
                return 2;
            }
        } else if (arg == "--verbose") {
            bVerbose = true;
        } else {
            Usage();
            return 2;
        }
    }
    if (rates.empty()) rates = {{25, 50}, {1, 8}};
    for (CRate& rate : rates)
        rate.nWarmup = nWarmup;
    if (!bVerbose) JXSetLogSink(&DropLogLine, nullptr);

    CModuleHost host;
    if (host.Load(sModule) != JX_OK) return 1;
    printf("module: %s\n", host.GetPath().c_str());
    printf("latency from the write of a frame's last RTP packet to the subscriber's frame (ms),\n"
           "after %d warm-up frames per rate\n",
           nWarmup);
    printf("| fps | frames measured | missing | min | median | p90 | max |\n");
    printf("|---|---|---|---|---|---|---|\n");
    fflush(stdout);
    bool bOk = true;
    for (const CRate& rate : rates) {
        CResult result;
        if (!RunRate(host, rate, bVerbose, result)) {
            bOk = false;
            continue;
        }
        if (result.nMissing != 0) bOk = false;
        printf("| %d | %d | %d | %.2f | %.2f | %.2f | %.2f |\n", rate.nFps, result.nMeasured, result.nMissing,
               result.fMinMs, result.fMedianMs, result.fP90Ms, result.fMaxMs);
        fflush(stdout);
    }
    host.Unload();
    return bOk ? 0 : 1;
}
