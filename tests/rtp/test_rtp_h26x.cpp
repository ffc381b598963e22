// H.264 and H.265 depacketizers: GStreamer's captures of x264/x265 clips replayed
// whole and with losses, compared with the clips access unit by access unit;
// one table of hand-written packets (malformed, hostile, parameter sets, marks,
// random-access points, decoding-order numbers).
#include "rtp_harness.h"
#include "rtph264.h"
#include "rtph265.h"
#include "rtpparser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace {

// One depacketizer of either format on the sink's stream, set up from the fmtp text.
CRTPNalVideo* Make(CFrameSink& sink, bool bH265, const char* pFmtp = nullptr)
{
    CRTPNalVideo* pMedia = bH265 ? static_cast<CRTPNalVideo*>(new CRTPH265(&sink)) : new CRTPH264(&sink);
    sink.Use(pMedia)->Setup(pFmtp);
    return pMedia;
}

uint8_t NalType(const Bytes& unit, bool bH265)
{
    return bH265 ? (unit[0] >> 1) & 0x3F : unit[0] & 0x1F;
}

// A frame as the clip holds it, each unit behind 00 00 00 01: without the
// delimiters and repeated parameter sets that GStreamer's parser adds.
Bytes Normal(const std::vector<Bytes>& units, bool bH265)
{
    Bytes out;
    std::vector<Bytes> seen;
    for (const Bytes& u : units) {
        const uint8_t t = NalType(u, bH265);
        const bool bSet = bH265 ? (t >= 32 && t <= 34) : (t == 7 || t == 8);
        if (t == (bH265 ? 35 : 9) || (bSet && std::find(seen.begin(), seen.end(), u) != seen.end())) continue;
        if (bSet) seen.push_back(u);
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), u.begin(), u.end());
    }
    return out;
}

// The clip's access units: one begins at a parameter set, SEI or delimiter
// after a slice, or at a slice that is the first of its picture.
std::vector<Bytes> AccessUnits(const Bytes& clip, bool bH265, std::vector<bool>& keys)
{
    std::vector<std::vector<Bytes>> aus;
    bool bAfterSlice = true;
    for (const Bytes& u : SplitNals(clip)) {
        const uint8_t t = NalType(u, bH265);
        const bool bSlice = bH265 ? t < 32 : (t >= 1 && t <= 5);
        const bool bFirst = bH265 ? (u[2] & 0x80) != 0 : (u[1] & 0x80) != 0;
        if (bAfterSlice && (!bSlice || bFirst)) {
            aus.emplace_back();
            keys.push_back(false);
        }
        keys.back() = keys.back() || (bH265 ? t >= 16 && t <= 21 : t == 5);
        aus.back().push_back(u);
        bAfterSlice = bSlice;
    }
    std::vector<Bytes> out;
    for (const auto& au : aus)
        out.push_back(Normal(au, bH265));
    return out;
}

struct Capture {
    const char* pName;
    const char* pClip;
    bool bH265;
    int nWidth, nHeight;
};
const Capture kCaptures[] = {
    {"h264_1080p_timed.rtp", "h264_1080p.h264", false, 1920, 1080},
    {"h264_stap_timed.rtp", "h264_stap.h264", false, 320, 240},
    {"h265_1080p_timed.rtp", "h265_1080p.h265", true, 1920, 1080},
    {"h265_ap_timed.rtp", "h265_ap.h265", true, 320, 240},
    {"h265_cra_timed.rtp", "h265_cra.h265", true, 320, 240},   // CRA only, RASL pictures behind them
};

// Replays the packets: the clip's access units outside nLostFirst to nLostLast
// and not in skipped are delivered, in order, byte for byte, and none other.
// The payloaders mark each unit's last packet, so the last unit goes out too,
// with nothing after it.
void Replay(const Capture& cap, const std::vector<Bytes>& packets, int nLostFirst, int nLostLast,
            const std::vector<int>& skipped = {})
{
    std::vector<bool> keys;
    const std::vector<Bytes> aus = AccessUnits(LoadDataFile(std::string("rtp/") + cap.pClip), cap.bH265, keys);
    ASSERT_FALSE(packets.empty());
    CFrameSink sink;
    Make(sink, cap.bH265);
    sink.FeedAll(packets);

    std::vector<int> expect;
    for (int i = 0; i < int(aus.size()); ++i) {
        const bool bSkipped = std::find(skipped.begin(), skipped.end(), i) != skipped.end();
        if ((i < nLostFirst || i > nLostLast) && !bSkipped) expect.push_back(i);
    }
    const auto& frames = sink.m_Frames;
    ASSERT_EQ(frames.size(), expect.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const CSunkFrame& f = frames[i];
        SCOPED_TRACE("access unit " + std::to_string(expect[i]));
        EXPECT_EQ(Normal(SplitNals(f.m_Data), cap.bH265), aus[size_t(expect[i])]);
        EXPECT_EQ(f.m_Type, keys[size_t(expect[i])] ? 1 : 0);
        EXPECT_EQ(f.m_Codec, cap.bH265 ? JX_CODEC_H265 : JX_CODEC_H264);
        EXPECT_EQ(f.m_Width, cap.nWidth);
        EXPECT_EQ(f.m_Height, cap.nHeight);
        EXPECT_TRUE(f.m_ZeroTail);
    }
}

// Packets of access unit nAU (by timestamp), first packet index and count.
std::pair<size_t, size_t> UnitPackets(const std::vector<Bytes>& packets, int nAU)
{
    size_t first = 0;
    int n = -1;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (i == 0 || !std::equal(packets[i].begin() + 4, packets[i].begin() + 8, packets[i - 1].begin() + 4)) {
            if (++n == nAU + 1) return {first, i - first};
            if (n == nAU) first = i;
        }
    }
    return {first, packets.size() - first};
}

// One loss or disorder: what is done to which packet of which access unit
// (its first, middle or last), and the access units that must not come out:
// damaged ones and non-key units up to the next key frame; a loss where two
// frames meet costs both (which one lost bytes is unknown); and the RASL
// pictures behind the CRA the stream resumed at, which refer to pictures before it.
struct LossRow {
    int nCapture;
    const char* pWhat;   // none, drop, dup, swap (with the next), trunc (FU: to its headers; else 3 bytes off)
    int nAU;
    char cWhere;   // f, m, l
    int nLostFirst, nLostLast;
    const char* pSkipped = "";   // RASL access units left out after resuming
};
const LossRow kLosses[] = {
    {0, "none", 0, 'f', -1, -1}, {1, "none", 0, 'f', -1, -1},
    {2, "none", 0, 'f', -1, -1}, {3, "none", 0, 'f', -1, -1},
    {0, "drop", 4, 'm', 4, 5},   {0, "drop", 3, 'l', 3, 5},   // the FU end: found at the next frame's first packet
    {0, "drop", 4, 'f', 3, 5},                                // the delimiter: the frame boundary shows the gap
    {0, "dup", 6, 'm', 6, 7},    {0, "swap", 2, 'm', 2, 3},
    {0, "trunc", 8, 'm', 8, 9},  {1, "trunc", 10, 'f', 10, 19},   // STAP-A with SPS and PPS
    {1, "drop", 7, 'f', 6, 9},                                    // a whole one-packet frame
    {2, "drop", 3, 'm', 3, 5},                                    // resumed at the CRA of unit 6
    {2, "swap", 1, 'm', 1, 5},   {2, "trunc", 0, 'm', 0, 5},
    {3, "trunc", 0, 'f', 0, 9},  {3, "drop", 5, 'f', 4, 9},
    {4, "none", 0, 'f', -1, -1},                            // the CRAs reached in course keep their RASL
    {4, "drop", 5, 'm', 4, 20, "22 23 24"},                 // a one-packet frame; resumed at the CRA of unit 21
    {4, "drop", 30, 'f', 30, 44, "46 47 48"},               // unit 29 went out at its marked packet; the CRA of 45
    {4, "trunc", 40, 'm', 40, 44, "46 47 48"},
};

TEST(RtpH26x, LossAndDisorderNeverDeliverADamagedFrame)
{
    for (const LossRow& row : kLosses) {
        const Capture& cap = kCaptures[row.nCapture];
        SCOPED_TRACE(std::string(cap.pName) + " " + row.pWhat + " in access unit " + std::to_string(row.nAU));
        std::vector<Bytes> packets = LoadCapture(cap.pName);
        ASSERT_FALSE(packets.empty());
        const auto [first, count] = UnitPackets(packets, row.nAU);
        const size_t at = first + (row.cWhere == 'f' ? 0 : row.cWhere == 'l' ? count - 1 : count / 2);
        const std::string what = row.pWhat;
        const Bytes& p = packets[at];
        const uint8_t nType = cap.bH265 ? (p[12] >> 1) & 0x3F : p[12] & 0x1F;
        const bool bFU = nType == (cap.bH265 ? 49 : 28);
        const long nKeep = bFU ? 12 + (cap.bH265 ? 2 : 1) : -3;   // FU: one byte short of its header
        const CLoss::EOp op = what == "drop" ? CLoss::kDrop : what == "dup" ? CLoss::kDuplicate
                            : what == "swap" ? CLoss::kSwapWithNext : CLoss::kCut;
        if (what != "none") packets = ApplyLosses(packets, {{op, at, nKeep}});
        std::vector<int> skipped;
        std::istringstream in(row.pSkipped);
        for (int n; in >> n;)
            skipped.push_back(n);
        Replay(cap, packets, row.nLostFirst, row.nLostLast, skipped);
    }
}

// Parameter sets written by x264 and x265 (tests/data/media), by name in the
// scripts below: H.264 at 352x288 (SPS288, and its body in two halves SPSA1 and
// SPSA2) and 640x360 (SPS360), one PPS; H.265 at 640x360 (VPS, SPS265, PPS265).
const std::pair<const char*, const char*> kSets[] = {
    {"SPS288", "6742c00dd9016096c044000003000400000300c83c50a920"},
    {"SPSA1", "42c00dd9016096c0"},
    {"SPSA2", "44000003000400000300c83c50a920"},
    {"SPS360", "6742c01ed900a02ff97011000003000100000300320f162e48"},
    {"PPS265", "4401c172b46240"},
    {"PPS", "68cb83cb20"},
    {"VPS", "40010c01ffff01600000030090000003000003003f959809"},
    {"SPS265", "42010101600000030090000003000003003fa00502016965959a4932bc05a02000000300200000030321"},
};
const char kFmtp264[] = "packetization-mode=1;profile-level-id=42c00d; "
                        "sprop-parameter-sets=Z0LADdkBYJbARAAAAwAEAAADAMg8UKkg,aMuDyyA=\r\n";
const char kFmtp265[] = "sprop-vps=QAEMAf//AWAAAAMAkAAAAwAAAwA/lZgJ; "
                        "sprop-sps=QgEBAWAAAAMAkAAAAwAAAwA/oAUCAWlllZpJMrwFoCAAAAMAIAAAAwMh; sprop-pps=RAHBcrRiQA==";
const char kFmtp265List[] = "sprop-parameter-sets=QAEMAf//AWAAAAMAkAAAAwAAAwA/lZgJ,"
                            "QgEBAWAAAAMAkAAAAwAAAwA/oAUCAWlllZpJMrwFoCAAAAMAIAAAAwMh,RAHBcrRiQA==";

// One row: packets and what must come of them. Script tokens: "|" the next
// frame (timestamp + 3600); "-" a packet lost (sequence number skipped);
// "x=HHHH" the next packet carries a header extension with that profile word;
// else a payload in hex ("." groups its bytes), behind it the result
// expected: "!" -15, "?" -4, "~" -1, "#" -10, none 0. Frames: each delivered
// frame, its units apart by "+", each behind 00 00 00 01; "SETS" the
// parameter sets of the fmtp line.
struct Codec {
    bool bH265;
    const char* pFmtp;
};
const char kFmtp265Don[] = "sprop-vps=QAEMAf//AWAAAAMAkAAAAwAAAwA/lZgJ; "
                          "sprop-sps=QgEBAWAAAAMAkAAAAwAAAwA/oAUCAWlllZpJMrwFoCAAAAMAIAAAAwMh; sprop-pps=RAHBcrRiQA==; "
                          "sprop-max-don-diff=2";
const char kFmtp265Depack[] = "sprop-parameter-sets=QAEMAf//AWAAAAMAkAAAAwAAAwA/lZgJ,"
                              "QgEBAWAAAAMAkAAAAwAAAwA/oAUCAWlllZpJMrwFoCAAAAMAIAAAAwMh,RAHBcrRiQA==;"
                              "SPROP-DEPACK-BUF-NALUS=1";
const char kFmtp265NoDon[] = "sprop-parameter-sets=QAEMAf//AWAAAAMAkAAAAwAAAwA/lZgJ,"
                             "QgEBAWAAAAMAkAAAAwAAAwA/oAUCAWlllZpJMrwFoCAAAAMAIAAAAwMh,RAHBcrRiQA==;"
                             "sprop-max-don-diff=0; sprop-depack-buf-nalus=0";
const Codec k264{false, kFmtp264}, k265{true, kFmtp265}, k264None{false, ""}, k265None{true, ""},
    k265List{true, kFmtp265List}, k265Don{true, kFmtp265Don}, k265Depack{true, kFmtp265Depack},
    k265NoDon{true, kFmtp265NoDon};

struct PacketRow {
    const char* pName;
    Codec codec;
    const char* pScript;
    const char* pFrames;
    const char* pTypes = "";                 // when given: each frame's type
    const char* pWidths = "";                // when given: each frame's width
    uint16_t nVI = 0, nPB = 0, nCodec = 0;   // nCodec: the stream's a=JXFrame: code, 0 none
    bool bOwnCodec = true;                   // the frames carry nCodec, not the standard code
};

// clang-format off
const PacketRow kPackets[] = {
    // Faults 1 and 2 of the issue.
    {"an FU-A of one byte: refused unread, frame dropped", k264, "65b801 | 41e0 7c! 41e1! | 65b802 | 41e003 | 41e9", "SETS+65b801 SETS+65b802 41e003", "1 1 0"},
    {"an H.265 FU of two bytes: refused unread, frame dropped", k265, "2601aa | 0201bb 6201! 0201bc! | 2601cc | 0201dd | 0201e9", "SETS+2601aa SETS+2601cc 0201dd"},
    {"an FU-A start with nothing behind it, and what follows", k264, "65b801 | 41e0 7c81! 7c01e0! 7c41e1! | 65b802 | 41e9", "SETS+65b801 SETS+65b802"},
    {"an H.265 FU start with nothing behind it, and what follows", k265, "2601aa | 0201bb 628101! 620101e0! 624101e1! | 2601cc | 0201e9", "SETS+2601aa SETS+2601cc"},
    // Fragments, aggregation, single units.
    {"fragments: one unit, one start code; the marker plays no part", k264, "65b801 | 7c81a1 7c01a2 7c41a3 41b4 | 41e9", "SETS+65b801 61a1a2a3+41b4", "1 0"},
    {"H.265 fragments: header with F clear, layer bit kept", k265, "2601aa | e3018101 e3010102 e3014103 | 0201e9", "SETS+2601aa 0301010203"},
    {"an FU-A with S and E set is one whole unit", k264, "7cc5e0 | 41e9", "SETS+65e0"},
    {"an H.265 FU with S and E set drops the frame", k265, "2601aa 62c113! | 0201e9", ""},
    // A lost fragment end is found by the next start or frame; a middle with no unit open drops the rest.
    {"lost fragment ends", k264, "65b801 | 7c81a1 7c81b1! | 65b802 | 7c81c1 | 65b803 | 7c01a2! 41b4! | 65b804 | 41e9", "SETS+65b801 SETS+65b802 SETS+65b803 SETS+65b804"},
    {"a single unit inside an open fragment drops the frame", k264, "65b801 | 7c81a1 41b4! 7c41a3! | 65b802 | 41e9", "SETS+65b801 SETS+65b802"},
    {"an H.265 unit inside an open fragment drops the frame", k265, "2601aa | 620181a1 0201b4! 620141a3! | 2601cc | 0201e9", "SETS+2601aa SETS+2601cc"},
    {"STAP-A units are taken; a bad one is skipped", k264, "180002.09f0.0001.00.0003.65b8c1? | 41e9", "SETS+09f0+65b8c1"},
    {"a STAP-A unit claiming more than remains drops the frame", k264, "65b801 | 41e0 18.0002.4100.0009.41e1! 41e2! | 65b802 | 41e9", "SETS+65b801 SETS+65b802"},
    {"STAP-B skips its decoding order number", k264, "19.0007.0003.65b8c1 | 41e9", "SETS+65b8c1"},
    {"H.265 aggregation; a unit of size 1 drops the frame", k265, "6001.0004.2601aabb.0004.2601ccdd | 6001.0004.0201eeff.0001.02aabb! | 2601ab | 0201e9", "SETS+2601aabb+2601ccdd SETS+2601ab"},
    // MTAP, FU-B, types 0 and 30 are refused; MTAP and a reserved FU bit drop the frame.
    {"refused H.264 types", k264, "65b801 1d8100! 00aa! 1eaa! | 41e0 1a0000# | 65b802 | 41e0 7ca1e0! | 65b803 | 41e9", "SETS+65b801 SETS+65b802 SETS+65b803"},
    {"H.265 types 41 to 63 but 48, 49 refused; short singles", k265, "2601aa 6401aa! 5201aa! 7e01! 0201? | 0201e9", "SETS+2601aa"},
    // Frame boundaries and waiting for key frames.
    {"a delimiter after slices drops them as a lost picture", k264, "65b801 | 41e0 09f0 41e1 | 41e2 | 65b802 | 41e9", "SETS+65b801 SETS+65b802"},
    {"a frame of SEI only is dropped, a key frame awaited", k264, "65b801 | 06aa | 41e2 | 65b802 | 41e9", "SETS+65b801 SETS+65b802"},
    {"a loss where two frames meet drops both", k264, "65b801 | 41e0 | - 41e1! | 41e2 | 65b802 | 41e9", "SETS+65b801 SETS+65b802"},
    {"H.265 end of sequence: refused before a slice, else stored", k265, "4801ff~ 2601aa 4801ff | 0201e9", "SETS+2601aa+4801ff"},
    {"H.265 BLA, IDR and CRA are key frames; type 0 and 22 not", k265, "2801aa | 2a01bb | 2001cc | 2401dd | 0001ee | 2c01ff | 0201e9", "SETS+2801aa SETS+2a01bb SETS+2001cc SETS+2401dd 0001ee 2c01ff", "1 1 1 1 0 0"},
    {"H.265 stream begins at a CRA, not an IDR", k265, "0201b0 | 2a01aa | 0201e9", "SETS+2a01aa", "1"},
    // RASL (8, 9) behind a CRA or BLA the stream resumed at are dropped; RADL (6, 7) kept; a trailing picture ends the run.
    {"resumed at a CRA: RASL dropped, RADL kept, until a trailing picture", k265, "2a01aa | 1001b1 | 0c01c1 | 1201b2 | 0e01c2 | 0201d1 | 1001b3 | 0201e9", "SETS+2a01aa 0c01c1 0e01c2 0201d1 1001b3", "1 0 0 0 0"},
    {"a CRA reached in course keeps its RASL pictures", k265, "2601aa | 0201b1 | 2a01cc | 1001dd | 1201de | 0201e9", "SETS+2601aa 0201b1 SETS+2a01cc 1001dd 1201de", "1 0 1 0 0"},
    {"after a loss, resumed at a BLA: its RASL dropped", k265, "2601aa | 0201b1 | - 0201b2! | 0201b3 | 2001cc | 1001dd | 0201ee | 0201e9", "SETS+2601aa SETS+2001cc 0201ee", "1 1 0"},
    {"resumed at an IDR_W_RADL: its RADL kept", k265, "0201b0 | 2601cc | 0c01dd | 0201e9", "SETS+2601cc 0c01dd", "1 0"},
    // Decoding-order numbers: DONL behind single units and first fragments, DOND between aggregated units.
    {"DONL of single units stripped", k265Don, "2601.fffe.aa | 0201.ffff.bb | 0201.0000.cc | 0201.0001.e9", "SETS+2601aa 0201bb 0201cc"},
    {"sprop-depack-buf-nalus above 0 also brings DONL", k265Depack, "2601.0007.aa | 0201.0008.e9", "SETS+2601aa"},
    {"sprop-max-don-diff and depack-buf-nalus 0: no DONL", k265NoDon, "2601aa | 0201e9", "SETS+2601aa"},
    {"an aggregation packet: DONL, then DOND", k265Don, "6001.0010.0004.2601aabb.00.0004.2601ccdd.01.0003.2601ee | 0201.0015.e9", "SETS+2601aabb+2601ccdd+2601ee"},
    {"a fragmented unit: DONL in its first fragment only", k265Don, "2601.0000.aa | 6201.81.0001.a1 6201.01.a2 6201.41.a3 | 0201.0002.e9", "SETS+2601aa 0201a1a2a3"},
    {"units of a frame out of order are put in decoding order", k265Don, "2601.0000.aa | 0201.0003.b3 0201.0001.b1 0201.0002.b2 | 0201.0009.e9", "SETS+2601aa 0201b1+0201b2+0201b3"},
    {"a unit before a fragmented one, and a fragmented one before a unit", k265Don, "2601.0000.aa | 6201.81.0003.a1 6201.41.a2 0201.0002.b1 | 6201.81.0005.c1 6201.41.c2 0201.0006.d1 6201.81.0004.e1 6201.41.e2 | 0201.0009.e9", "SETS+2601aa 0201b1+0201a1a2 0201e1e2+0201c1c2+0201d1"},
    {"an aggregation packet goes before a unit it precedes", k265Don, "2601.0000.aa | 0201.0005.b1 6001.0002.0003.0201c1.00.0003.0201c2 | 0201.0009.e9", "SETS+2601aa 0201c1+0201c2+0201b1"},
    {"DONL or DOND cut short drops the frame", k265Don, "2601.0000.aa | 0201.0001.b1 0201.00! | 2601.0003.cc | 6201.81.00! | 2601.0005.dd | 6001.0006.0003.0201ee.00! | 2601.0009.ff | 0201.000a.e9", "SETS+2601aa SETS+2601cc SETS+2601dd SETS+2601ff"},
    {"a unit inside an open fragment drops the frame", k265Don, "2601.0000.aa | 6201.81.0001.a1 0201.0002.b1! 6201.41.a2! | 2601.0003.cc | 0201.0004.e9", "SETS+2601aa SETS+2601cc"},
    {"order across frames refuses the stream", k265Don, "2601.0000.aa | 0201.0002.bb | 0201.0001.cc# 0201.0003.dd# | 2601.0004.ee# | 0201.0005.e9#", "SETS+2601aa 0201bb"},
    // Parameter sets: none yet, in-band, out-of-band, a changing picture size (fault 6).
    {"no frame before the head knows the picture", k264None, "65b801 | 41e0 | 671234! | 41e1 | 65b802 | 41e9", ""},
    {"in-band sets stay in the frame, the head adds none", k264, "SPS288 PPS 65b801 | 41e9", "SPS288+PPS+65b801"},
    {"joined part-way, a PPS before its SPS: the head's sets in front", k264None, "PPS SPS288 PPS 65b801 | 41e9", "SPS288+PPS+PPS+SPS288+PPS+65b801"},
    // A new SPS: key frames carry the new sets, none behind a set it depends on.
    {"a new SPS", k264, "65b801 | SPS360 65b802 | 41e0 | 65b803 | 41e9", "SETS+65b801 SPS360+PPS+SPS360+65b802 41e0 SPS360+PPS+65b803", "1 1 0 1", "352 640 640 640"},
    {"an in-band set the head refuses drops its frame", k264, "65b801 | 67ff! 65b802! | 65b803 | 41e9", "SETS+65b801 SETS+65b803", "", "352 352"},
    {"a slice behind a refused set in one STAP-A is not taken", k264, "65b801 | 18.0002.67ff.0003.41e0e1! | 65b802 | 41e9", "SETS+65b801 SETS+65b802"},
    {"a fragmented SPS goes to the head whole", k264None, "7c87SPSA1 7c47SPSA2 PPS 65b801 | 41e9", "SPS288+PPS+65b801", "", "352"},
    {"an H.265 aggregation of VPS, SPS and PPS feeds the head", k265None, "6001.0018VPS.002aSPS265.0007PPS265.0003.2601aa | 0201e9", "VPS+SPS265+PPS265+2601aa", "", "640"},
    {"sprop-parameter-sets of three H.265 sets feeds all three", k265List, "2601aa | 0201e9", "SETS+2601aa", "", "640"},
    // Frame marks and private codec codes of a=JXFrame:.
    {"header extensions with the VI or PB word mark the frame", k264, "65b801 | x=0002 41e0 | x=0001 41e1 | x=0003 41e2 | 41e9", "SETS+65b801 41e0 41e1 41e2", "1 10 9 0", "", 1, 2},
    // An a=JXFrame: code names the frames only inside the format's range (H.264 16-31, H.265 32-47).
    {"the first code of the H.264 range", k264, "65b801 | 41e9", "SETS+65b801", "", "", 0, 0, 16},
    {"a code below the H.264 range", k264, "65b801 | 41e9", "SETS+65b801", "", "", 0, 0, 15, false},
    {"the last code of the H.265 range", k265, "2601aa | 0201e9", "SETS+2601aa", "", "", 0, 0, 47},
    {"a code above the H.265 range", k265, "2601aa | 0201e9", "SETS+2601aa", "", "", 0, 0, 48, false},
};
// clang-format on

std::string Expand(std::string text, bool bH265)
{
    const std::string sets = bH265 ? "VPS+SPS265+PPS265" : "SPS288+PPS";
    for (size_t at; (at = text.find("SETS")) != std::string::npos;)
        text.replace(at, 4, sets);
    for (const auto& [name, hex] : kSets) {
        for (size_t at; (at = text.find(name)) != std::string::npos;)
            text.replace(at, strlen(name), hex);
    }
    return text;
}

TEST(RtpH26x, PacketTable)
{
    for (const PacketRow& row : kPackets) {
        SCOPED_TRACE(row.pName);
        CFrameSink sink;
        Make(sink, row.codec.bH265, row.codec.pFmtp);
        sink.m_MarkEnabled = row.nVI != 0 || row.nPB != 0;
        sink.m_VI = row.nVI;
        sink.m_PB = row.nPB;
        sink.m_Codec = row.nCodec;
        CTestRTP b;
        int nExtension = -1;
        for (std::string tok : Words(Expand(row.pScript, row.codec.bH265))) {
            if (BuilderToken(tok, b, 3600)) continue;
            if (tok.rfind("x=", 0) == 0) {
                nExtension = std::stoi(tok.substr(2), nullptr, 16);
                continue;
            }
            const int nExpect = TakeResultMark(tok);
            Bytes pkt = b.Next(HexBytes(tok));
            if (nExtension >= 0) {
                pkt[0] |= 0x10;   // X, and an empty extension behind the fixed header
                pkt.insert(pkt.begin() + 12, {uint8_t(nExtension >> 8), uint8_t(nExtension), 0, 0});
                nExtension = -1;
            }
            EXPECT_EQ(sink.Feed(pkt), nExpect) << tok;
        }
        const auto& frames = sink.m_Frames;
        const std::vector<std::string> expect = Words(Expand(row.pFrames, row.codec.bH265));
        const std::vector<std::string> types = Words(row.pTypes);
        const std::vector<std::string> widths = Words(row.pWidths);
        ASSERT_EQ(frames.size(), expect.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            std::string want = "+" + expect[i];
            for (size_t at; (at = want.find('+')) != std::string::npos;)
                want.replace(at, 1, "00000001");
            EXPECT_EQ(ToHex(frames[i].m_Data), ToHex(HexBytes(want))) << "frame " << i;
            EXPECT_TRUE(frames[i].m_ZeroTail);
            const int nStandard = row.codec.bH265 ? JX_CODEC_H265 : JX_CODEC_H264;
            EXPECT_EQ(frames[i].m_Codec, row.nCodec != 0 && row.bOwnCodec ? row.nCodec : nStandard);
            EXPECT_EQ(types.empty() ? "" : std::to_string(frames[i].m_Type), types.empty() ? "" : types[i]);
            EXPECT_EQ(widths.empty() ? "" : std::to_string(frames[i].m_Width), widths.empty() ? "" : widths[i]);
        }
    }
}

}   // namespace
