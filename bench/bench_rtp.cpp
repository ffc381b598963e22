// RTP receive path against memcpy of the same bytes, measured in one run:
//   parser   CRTPParser::Setup per packet, beside a memcpy of each whole packet
//   receive  order checks and append into the frame buffer per payload byte,
//            beside a memcpy of each payload into a frame-sized buffer
// The ratios printed at the end are (CPU time of the work) / (CPU time of
// memcpy), each the best of its repetitions (--benchmark_repetitions=N), so
// other load on a shared machine disturbs them least.
#include "rtpdata.h"
#include "rtpmedia.h"
#include "rtpparser.h"
#include "rtpsocket.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kPayload = 1400;
constexpr int kPacketsPerFrame = 30;
constexpr int kFrames = 64;

using Packet = std::vector<uint8_t>;

// kFrames frames of kPacketsPerFrame packets, each an RTP header and 1400
// payload bytes, built by the module's own packet builder.
const std::vector<Packet>& Packets()
{
    static std::vector<Packet> s_Packets = [] {
        std::vector<Packet> v;
        CRTPData d;
        tag_RTPHDR h{};
        h.nVersion = 2;
        h.nPayloadType = 96;
        h.nSSRC = 0x11223344;
        std::vector<uint8_t> payload(kPayload);
        for (int f = 0; f < kFrames; ++f) {
            for (int i = 0; i < kPacketsPerFrame; ++i) {
                for (int j = 0; j < kPayload; ++j) {
                    payload[static_cast<size_t>(j)] = static_cast<uint8_t>(f * 31 + i * 7 + j);
                }
                payload[0] = f % 32 == 0 ? 0x65 : 0x41;
                d.BuildH265RTP(&h, payload.data(), kPayload);
                v.emplace_back(d.m_Packet + CRTPData::kFrameBytes, d.m_Packet + d.m_Length);
                ++h.nSeqNo;
            }
            h.nTimeStamp += 3600;
        }
        return v;
    }();
    return s_Packets;
}

// Order checks plus append; the finished frame is dropped, so the figure is
// the receive path alone (delivery costs one more copy per frame).
class CBenchVideo : public CRTPMediaVideo {
public:
    explicit CBenchVideo(CRTPSocket* pSocket) : CRTPMediaVideo(pSocket) { m_PayloadType = 96; }
    int OnRecvRTP(CRTPParser& rtp) override
    {
        int nResult = CRTPMediaVideo::OnRecvRTP(rtp);
        return nResult != 0 ? nResult : AppendFrame(rtp.Payload(), rtp.PayloadLength());
    }
    int PackFrame() override
    {
        benchmark::DoNotOptimize(m_Buffer.m_Data);
        return 0;
    }
};

void BM_ParserSetup(benchmark::State& state)
{
    const auto& packets = Packets();
    for (auto _ : state) {
        for (const Packet& p : packets) {
            CRTPParser rtp;
            benchmark::DoNotOptimize(rtp.Setup(p.data(), static_cast<uint32_t>(p.size())));
            benchmark::DoNotOptimize(rtp.m_HeadLen);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(packets.size()));
}

void BM_ParserMemcpy(benchmark::State& state)
{
    const auto& packets = Packets();
    std::vector<uint8_t> dst(2048);
    for (auto _ : state) {
        for (const Packet& p : packets) {
            memcpy(dst.data(), p.data(), p.size());
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(packets.size()));
}

void BM_ReceivePath(benchmark::State& state)
{
    const auto& packets = Packets();
    CRTPSocket stream;
    auto* pVideo = new CBenchVideo(&stream);
    stream.m_Media = pVideo;
    int64_t nBytes = 0;
    for (auto _ : state) {
        for (const Packet& p : packets) {
            CRTPParser rtp;
            if (rtp.Setup(p.data(), static_cast<uint32_t>(p.size())) == JX_OK) {
                pVideo->OnRecvRTP(rtp);
                nBytes += rtp.PayloadLength();
            }
        }
    }
    state.SetBytesProcessed(nBytes);
}

void BM_ReceiveMemcpy(benchmark::State& state)
{
    const auto& packets = Packets();
    std::vector<uint8_t> frame(65536);
    int64_t nBytes = 0;
    for (auto _ : state) {
        size_t nAt = 0;
        int nInFrame = 0;
        for (const Packet& p : packets) {
            memcpy(frame.data() + nAt, p.data() + 12, p.size() - 12);
            nAt += p.size() - 12;
            nBytes += static_cast<int64_t>(p.size() - 12);
            if (++nInFrame == kPacketsPerFrame) {
                benchmark::ClobberMemory();
                nAt = 0;
                nInFrame = 0;
            }
        }
    }
    state.SetBytesProcessed(nBytes);
}

BENCHMARK(BM_ParserSetup);
BENCHMARK(BM_ParserMemcpy);
BENCHMARK(BM_ReceivePath);
BENCHMARK(BM_ReceiveMemcpy);

// Keeps each benchmark's best CPU time per iteration (all iterate over the
// same packets) so the pairs can be printed as ratios.
class CRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
                const double fTime = r.GetAdjustedCPUTime();
                auto it = m_Times.find(r.run_name.function_name);
                if (it == m_Times.end() || fTime < it->second) {
                    m_Times[r.run_name.function_name] = fTime;
                }
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatio(const char* pLabel, const char* pWork, const char* pCopy, const char* pUnit, double fUnits) const
    {
        auto w = m_Times.find(pWork);
        auto c = m_Times.find(pCopy);
        if (w == m_Times.end() || c == m_Times.end() || c->second <= 0.0) {
            return;
        }
        printf("%-8s %.3f x memcpy  (%.2f ns vs %.2f ns per %s)\n", pLabel, w->second / c->second, w->second / fUnits,
               c->second / fUnits, pUnit);
    }

private:
    std::map<std::string, double> m_Times;
};

}   // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    Packets();
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double fPackets = static_cast<double>(Packets().size());
    printf("\n");
    reporter.PrintRatio("parser", "BM_ParserSetup", "BM_ParserMemcpy", "packet", fPackets);
    reporter.PrintRatio("receive", "BM_ReceivePath", "BM_ReceiveMemcpy", "1400-byte payload", fPackets);
    benchmark::Shutdown();
    return 0;
}
