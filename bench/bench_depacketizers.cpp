// Each depacketizer on a capture of a real stream (tests/data/rtp), against
// memcpy of the same payload bytes, measured in one run:
//   BM_<codec>          every packet of the capture through CRTPSocket::OnRecvRTP
//                       (parser, order checks, depacketizer, frame delivery into
//                       a counting stream), one capture per iteration
//   BM_<codec>_memcpy   each packet's payload copied behind the previous one of
//                       its frame into a frame-sized buffer
//   BM_H264_reorder     as BM_H264, through the reorder window that datagrams
//                       pass (CRTPReorder), with one pair of packets in every
//                       kSwapEvery swapped: each swap is held and put back
// The capture is looped: before each pass the sequence numbers and timestamps
// of one working copy (made once, before timing) are moved on by one capture's
// span, so every pass delivers every frame instead of being dropped as
// repeats. The rewrite (6 bytes a packet) is charged to the depacketizer, not
// to memcpy. Frames are gathered in the packet they are delivered in, so the
// depacketizer copies each payload byte once, as memcpy does; a frame that
// outgrows its packet is copied once more into a larger one
// (frame_moves_per_frame).
//
// Allocations: global operator new is replaced by a counting one, and the
// count over the timed passes (after one warm-up pass) is reported per frame
// and per packet. It does not see malloc, calloc or realloc, which cannot be
// replaced portably. The receive path's one allocator uses them: the packet
// pool (CPacket::Acquire mallocs a buffer, and news the CPacket, when its size
// class has no free packet), which also holds the frames under assembly. The
// depacketizers themselves call malloc only in Setup (fmtp and
// sprop-parameter-sets copies), outside the timed loop. Pool misses are
// counted from CPacket::GetAllocCount().
//
// The ratio printed at the end is (CPU time of the depacketizer) / (CPU time
// of memcpy), each the median of its repetitions when repetitions are asked
// for, else the single run.
#include "rtp_capture.h"
#include "rtpaac.h"
#include "rtpg711.h"
#include "rtph264.h"
#include "rtph265.h"
#include "rtpmjpeg.h"
#include "rtpparser.h"
#include "rtpreorder.h"
#include "rtpsocket.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {
std::atomic<uint64_t> g_NewCalls{0};

void* CountedAlloc(size_t nSize)
{
    g_NewCalls.fetch_add(1, std::memory_order_relaxed);
    return malloc(nSize != 0 ? nSize : 1);
}

void* CountedAlignedAlloc(size_t nSize, std::align_val_t align)
{
    g_NewCalls.fetch_add(1, std::memory_order_relaxed);
    const size_t nAlign = static_cast<size_t>(align);
    // aligned_alloc wants a size that is a multiple of the alignment.
    const size_t nRounded = (nSize + nAlign - 1) / nAlign * nAlign;
    return std::aligned_alloc(nAlign, nRounded != 0 ? nRounded : nAlign);
}
}   // namespace

// Every form of global new, counted; every form of delete frees what they gave.
void* operator new(size_t n)
{
    void* p = CountedAlloc(n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t n)
{
    return operator new(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept
{
    return CountedAlloc(n);
}
void* operator new[](size_t n, const std::nothrow_t&) noexcept
{
    return CountedAlloc(n);
}
void* operator new(size_t n, std::align_val_t a)
{
    void* p = CountedAlignedAlloc(n, a);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t n, std::align_val_t a)
{
    return operator new(n, a);
}
void* operator new(size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return CountedAlignedAlloc(n, a);
}
void* operator new[](size_t n, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return CountedAlignedAlloc(n, a);
}
void operator delete(void* p) noexcept
{
    free(p);
}
void operator delete[](void* p) noexcept
{
    free(p);
}
void operator delete(void* p, size_t) noexcept
{
    free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    free(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept
{
    free(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept
{
    free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    free(p);
}

namespace {

constexpr size_t kSeqAt = 2;   // RTP header: sequence number, then timestamp
constexpr size_t kTimeStampAt = 4;
constexpr uint32_t kDefaultFrameTicks = 3600;   // one frame at 25 a second on the 90 kHz clock
constexpr size_t kSwapEvery = 10;               // packets per swapped pair, through the reorder window

void Put16(uint8_t* p, uint16_t n)
{
    p[0] = static_cast<uint8_t>(n >> 8);
    p[1] = static_cast<uint8_t>(n);
}

void Put32(uint8_t* p, uint32_t n)
{
    Put16(p, static_cast<uint16_t>(n >> 16));
    Put16(p + 2, static_cast<uint16_t>(n));
}

// One capture, its packets back to back in one working copy, with what each
// pass rewrites and what memcpy copies.
struct SCapture {
    std::vector<uint8_t> m_Bytes;
    std::vector<size_t> m_At;            // each packet's offset in m_Bytes
    std::vector<uint32_t> m_Length;      // each packet's length
    std::vector<uint32_t> m_HeadLen;     // each packet's RTP header length
    std::vector<uint16_t> m_Seq;         // as captured
    std::vector<uint32_t> m_TimeStamp;   // as captured
    std::vector<bool> m_NewFrame;        // the packet's timestamp differs from the one before it
    uint16_t m_SeqSpan = 0;              // a pass moves sequence numbers on by this
    uint32_t m_TimeSpan = 0;             // and timestamps by this
    uint8_t m_PayloadType = 0;
    int64_t m_PayloadBytes = 0;     // payload bytes of one pass
    uint64_t m_FramesPerPass = 0;   // timestamp runs: the frames one pass of a loop delivers
    size_t m_MaxFrame = 0;          // largest frame's payload bytes
    std::string m_Error;            // empty when the capture is usable

    bool Load(const char* pName)
    {
        const std::vector<Bytes> packets = LoadCapture(pName);
        if (packets.empty()) {
            m_Error = std::string("capture not readable: ") + pName;
            return false;
        }
        size_t nFrame = 0;
        uint32_t nFrameTicks = 0;
        for (const Bytes& p : packets) {
            CRTPParser rtp;
            if (rtp.Setup(p.data(), static_cast<uint32_t>(p.size())) != JX_OK) {
                m_Error = std::string("capture holds a packet the parser refuses: ") + pName;
                return false;
            }
            const bool bNew = m_Seq.empty() || rtp.m_TimeStamp != m_TimeStamp.back();
            if (bNew && !m_Seq.empty()) {
                nFrameTicks = rtp.m_TimeStamp - m_TimeStamp.back();
                nFrame = 0;
            }
            m_PayloadType = rtp.m_PayloadType;
            m_At.push_back(m_Bytes.size());
            m_Length.push_back(static_cast<uint32_t>(p.size()));
            m_HeadLen.push_back(rtp.m_HeadLen);
            m_Seq.push_back(rtp.m_SeqNo);
            m_TimeStamp.push_back(rtp.m_TimeStamp);
            m_NewFrame.push_back(bNew);
            m_Bytes.insert(m_Bytes.end(), p.begin(), p.end());
            m_PayloadBytes += rtp.PayloadLength();
            m_FramesPerPass += bNew ? 1 : 0;
            nFrame += static_cast<size_t>(rtp.PayloadLength());
            m_MaxFrame = std::max(m_MaxFrame, nFrame);
        }
        m_SeqSpan = static_cast<uint16_t>(m_Seq.back() - m_Seq.front() + 1);
        // The pass after this one begins one frame interval after its last frame.
        m_TimeSpan = m_TimeStamp.back() - m_TimeStamp.front() + (nFrameTicks != 0 ? nFrameTicks : kDefaultFrameTicks);
        return true;
    }

    // Numbers and timestamps of pass nPass (0: as captured).
    void Rewrite(uint64_t nPass)
    {
        const uint16_t nSeq = static_cast<uint16_t>(nPass * m_SeqSpan);
        const uint32_t nTime = static_cast<uint32_t>(nPass * m_TimeSpan);
        for (size_t i = 0; i < m_At.size(); ++i) {
            uint8_t* p = m_Bytes.data() + m_At[i];
            Put16(p + kSeqAt, static_cast<uint16_t>(m_Seq[i] + nSeq));
            Put32(p + kTimeStampAt, m_TimeStamp[i] + nTime);
        }
    }
};

// The stream: counts what the depacketizer delivers and drops it.
class CCountingStream : public CRTPSocket {
public:
    int OnRecvFrame(CPacket* pFrame) override
    {
        ++m_Frames;
        benchmark::DoNotOptimize(pFrame->FrameGetData());
        return 0;
    }
    uint64_t m_Frames = 0;
};

enum ECodec { kH264, kH265, kMJPEG, kPCMA, kAAC, kLATM };

struct SCase {
    const char* pName;
    const char* pCapture;
    ECodec nCodec;
    bool bReorder = false;   // through the reorder window, pairs swapped
};

const SCase kCases[] = {
    {"H264", "h264_1080p_timed.rtp", kH264},
    {"H265", "h265_1080p_timed.rtp", kH265},
    {"MJPEG", "jpeg_std_420.rtp", kMJPEG},
    {"PCMA", "g711_alaw.rtp", kPCMA},
    {"AAC", "aac_hbr_frag.rtp", kAAC},     // mpeg4-generic, each unit in fragments
    {"LATM", "aac_latm_frag.rtp", kLATM},
    {"H264_reorder", "h264_1080p_timed.rtp", kH264, true},
};

// The depacketizer of the case on its stream (which owns it), set up as the
// session would from a stream without fmtp parameters.
CRTPMedia* CreateMedia(ECodec nCodec, CCountingStream& stream)
{
    switch (nCodec) {
    case kH264: {
        auto* p = new CRTPH264(&stream);
        p->Setup(nullptr);
        return p;
    }
    case kH265: {
        auto* p = new CRTPH265(&stream);
        p->Setup(nullptr);
        return p;
    }
    case kMJPEG:
        return new CRTPMJPEG(&stream);
    case kPCMA:
        return new CRTPPCMA(&stream);
    case kAAC:
    case kLATM: {
        // The captures' own a=fmtp: lines (tests/data/rtp/aac_*.sdp), at their 16 kHz.
        CRTPAACMedia* p = nCodec == kAAC ? static_cast<CRTPAACMedia*>(new CRTPAAC(&stream)) : new CRTPLATM(&stream);
        p->Setup(nCodec == kAAC ? "mode=AAC-hbr;config=1408;sizelength=13;indexlength=3;indexdeltalength=3"
                                : "cpresent=0;config=40002810");
        p->m_Clock.SetRate(16000);
        return p;
    }
    }
    return nullptr;
}

// Frames the store moved into a larger packet: each is one copy of what the
// frame held, and one pool packet more in use for a moment.
uint32_t BufferMoves(const CRTPMedia* pMedia)
{
    if (const auto* pVideo = dynamic_cast<const CRTPMediaVideo*>(pMedia)) return pVideo->m_Buffer.m_Moves;
    if (const auto* pAudio = dynamic_cast<const CRTPMediaAudio*>(pMedia)) return pAudio->m_Buffer.m_Moves;
    return 0;
}

void ToStream(void* pUser, const uint8_t* pData, uint32_t nLen)
{
    static_cast<CCountingStream*>(pUser)->OnRecvRTP(pData, nLen);
}

// Straight into the stream, or through the window with the first two of
// every kSwapEvery packets swapped.
void ReplayPass(SCapture& cap, CCountingStream& stream, uint64_t nPass, CRTPReorder* pWindow)
{
    cap.Rewrite(nPass);
    const size_t nCount = cap.m_At.size();
    for (size_t i = 0; i < nCount; ++i) {
        if (pWindow == nullptr) {
            stream.OnRecvRTP(cap.m_Bytes.data() + cap.m_At[i], cap.m_Length[i]);
            continue;
        }
        size_t j = i;
        if (i % kSwapEvery == 0 && i + 1 < nCount) j = i + 1;
        if (i % kSwapEvery == 1) j = i - 1;
        pWindow->Push(cap.m_Bytes.data() + cap.m_At[j], cap.m_Length[j], CJXTime::GetTimeMS());
    }
}

void BM_Depacketizer(benchmark::State& state, const SCase& c)
{
    SCapture cap;
    if (!cap.Load(c.pCapture)) {
        state.SkipWithError(cap.m_Error.c_str());
        return;
    }
    CCountingStream stream;
    stream.m_PayloadType = cap.m_PayloadType;
    stream.m_Media = CreateMedia(c.nCodec, stream);
    stream.m_Media->m_PayloadType = cap.m_PayloadType;
    CRTPReorder window;   // its storage is reserved here, before timing
    if (c.bReorder && window.Init(&ToStream, &stream) != JX_OK) {
        state.SkipWithError("the reorder window could not reserve its storage");
        return;
    }
    CRTPReorder* pWindow = c.bReorder ? &window : nullptr;

    // Warm-up: the packet pool holds a packet of every size class the frames
    // need, and a video stream's marker bits are trusted (until then each
    // pass delivers its last frame only at the next pass's first packet).
    uint64_t nPass = 0;
    do {
        ReplayPass(cap, stream, nPass++, pWindow);
    } while (stream.m_Frames <= CRTPMediaVideo::kMarkerTrustFrames);
    const uint64_t nHeldBefore = window.m_Reordered;

    uint64_t nNew = 0;
    const uint32_t nMovesBefore = BufferMoves(stream.m_Media);
    const uint64_t nFramesBefore = stream.m_Frames;
    const uint64_t nPoolBefore = CPacket::GetAllocCount();
    for (auto _ : state) {
        const uint64_t nBefore = g_NewCalls.load(std::memory_order_relaxed);
        ReplayPass(cap, stream, nPass++, pWindow);
        nNew += g_NewCalls.load(std::memory_order_relaxed) - nBefore;
    }
    const uint64_t nPasses = static_cast<uint64_t>(state.iterations());
    const uint64_t nFrames = stream.m_Frames - nFramesBefore;
    // A looped capture must deliver every one of its frames each pass: a
    // shortfall means frames were dropped, and the figure would measure that.
    if (nFrames != nPasses * cap.m_FramesPerPass) {
        const std::string what = "frames delivered " + std::to_string(nFrames) + ", expected " +
                                 std::to_string(nPasses * cap.m_FramesPerPass);
        state.SkipWithError(what.c_str());
        return;
    }
    const double fFrames = static_cast<double>(nFrames);
    const double fPackets = static_cast<double>(nPasses * cap.m_At.size());
    state.SetBytesProcessed(static_cast<int64_t>(nPasses) * cap.m_PayloadBytes);
    state.counters["frames_per_pass"] = static_cast<double>(cap.m_FramesPerPass);
    state.counters["allocs_per_frame"] = static_cast<double>(nNew) / fFrames;
    state.counters["allocs_per_packet"] = static_cast<double>(nNew) / fPackets;
    state.counters["pool_misses_per_frame"] = static_cast<double>(CPacket::GetAllocCount() - nPoolBefore) / fFrames;
    state.counters["frame_moves_per_frame"] = static_cast<double>(BufferMoves(stream.m_Media) - nMovesBefore) / fFrames;
    if (pWindow != nullptr) {
        state.counters["held_per_packet"] = static_cast<double>(window.m_Reordered - nHeldBefore) / fPackets;
    }
}

void BM_Memcpy(benchmark::State& state, const SCase& c)
{
    SCapture cap;
    if (!cap.Load(c.pCapture)) {
        state.SkipWithError(cap.m_Error.c_str());
        return;
    }
    std::vector<uint8_t> frame(cap.m_MaxFrame);
    for (auto _ : state) {
        size_t nAt = 0;
        for (size_t i = 0; i < cap.m_At.size(); ++i) {
            if (cap.m_NewFrame[i]) {
                benchmark::ClobberMemory();
                nAt = 0;
            }
            const uint32_t nPayload = cap.m_Length[i] - cap.m_HeadLen[i];
            memcpy(frame.data() + nAt, cap.m_Bytes.data() + cap.m_At[i] + cap.m_HeadLen[i], nPayload);
            nAt += nPayload;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * cap.m_PayloadBytes);
}

// Keeps each benchmark's CPU time per iteration (the median aggregate when
// there is one) so that each depacketizer can be printed beside its memcpy.
class CRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            const bool bMedian = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            const std::string& name = r.run_name.function_name;
            if (r.error_occurred) {
                continue;
            }
            if (bMedian) {
                m_Times[name] = r.GetAdjustedCPUTime();
                m_FromMedian[name] = true;
            } else if (r.run_type == Run::RT_Iteration && r.iterations > 0 && !m_FromMedian[name]) {
                m_Times[name] = r.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatio(const std::string& name) const
    {
        auto w = m_Times.find("BM_" + name);
        auto c = m_Times.find("BM_" + name + "_memcpy");
        if (w == m_Times.end() || c == m_Times.end() || c->second <= 0.0) {
            return;
        }
        printf("%-6s %.2f x memcpy  (%.0f ns vs %.0f ns per capture)\n", name.c_str(), w->second / c->second, w->second,
               c->second);
    }

private:
    std::map<std::string, double> m_Times;
    std::map<std::string, bool> m_FromMedian;
};

// The counts mean something only if the counting operator new also serves the
// libraries: the packet pool's first packet of a size class is a CPacket made
// with new inside JXBase, so taking one must move both counts.
bool CounterSeesLibraries()
{
    const uint64_t nNew = g_NewCalls.load(std::memory_order_relaxed);
    const uint64_t nPool = CPacket::GetAllocCount();
    CPacket* pPacket = CPacket::Acquire(CPacket::kFrameHead);
    if (pPacket == nullptr) {
        return false;
    }
    pPacket->Release();
    return CPacket::GetAllocCount() > nPool && g_NewCalls.load(std::memory_order_relaxed) > nNew;
}

}   // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (!CounterSeesLibraries()) {
        fprintf(stderr, "the counting operator new does not see the libraries' allocations\n");
        return 1;
    }
    for (const SCase& c : kCases) {
        benchmark::RegisterBenchmark((std::string("BM_") + c.pName).c_str(), BM_Depacketizer, c);
        benchmark::RegisterBenchmark((std::string("BM_") + c.pName + "_memcpy").c_str(), BM_Memcpy, c);
    }
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printf("\n");
    for (const SCase& c : kCases) {
        reporter.PrintRatio(c.pName);
    }
    benchmark::Shutdown();
    return 0;
}
