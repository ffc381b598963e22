// Depacketizer bases: packet order, SSRC, frame assembly, frame rate, frame
// time and the delivery of a video frame; the audio base; CRTPFrame; the
// stream's receive seam.
#include "rtp_video_standin.h"
#include "rtpsocket.h"
#include "test_rtp.h"

#include <gtest/gtest.h>

namespace {

const char kKey[] = "\x65";      // NAL type 5: the stand-in's key frame
const char kNonKey[] = "\x41";   // NAL type 1

std::string Text(const char* pLead, const char* pRest)
{
    return std::string(pLead) + pRest;
}

class VideoBase : public ::testing::Test {
protected:
    VideoBase()
    {
        m_Video = new CTestVideo(&m_Sink);
        m_Sink.m_Media = m_Video;   // the stream owns and deletes it
    }

    // One packet through the parser into the depacketizer; the depacketizer's result.
    int Feed(const Bytes& pkt)
    {
        CRTPParser rtp;
        int32_t nResult = rtp.Setup(pkt.data(), static_cast<uint32_t>(pkt.size()));
        EXPECT_EQ(nResult, JX_OK);
        return nResult == JX_OK ? m_Video->OnRecvRTP(rtp) : nResult;
    }
    // One frame of the given packets with the current timestamp, then the
    // timestamp moves on by nTicks.
    void FeedFrame(const std::vector<std::string>& packets, uint32_t nTicks = 3600)
    {
        for (const auto& p : packets) {
            Feed(m_B.Next(p));
        }
        m_B.m_TS += nTicks;
    }

    CRTPLogCapture m_Log;
    CTestFrameSink m_Sink;
    CTestVideo* m_Video;
    CTestRTP m_B;
};

TEST_F(VideoBase, NewTimestampClosesTheFrameMarkerPlaysNoPart)
{
    m_Video->m_Width = 640;
    m_Video->m_Height = 480;
    m_Video->m_CodecOut = 18;
    EXPECT_EQ(Feed(m_B.Next(Text(kKey, "one,"), true)), 0);   // marker on the first: ignored
    EXPECT_EQ(Feed(m_B.Next("two,")), 0);
    EXPECT_EQ(Feed(m_B.Next("three")), 0);
    EXPECT_EQ(m_Sink.Count(), 0u);
    m_B.m_TS += 3600;
    EXPECT_EQ(Feed(m_B.Next(Text(kNonKey, "next"))), 0);

    ASSERT_EQ(m_Sink.Count(), 1u);
    EXPECT_EQ(m_Sink.Payload(0), ToBytes(Text(kKey, "one,two,three")));
    EXPECT_EQ(m_Sink.Tail(0), Bytes(32, 0));
    CPacket* p = m_Sink.Frame(0);
    EXPECT_EQ(p->FrameGetType(), 1);
    EXPECT_EQ(p->FrameGetCodec(), 18);
    EXPECT_EQ(p->FrameGetWidth(), 640);
    EXPECT_EQ(p->FrameGetHeight(), 480);
    EXPECT_FLOAT_EQ(p->FrameGetFPS(), 25.0f);
    EXPECT_EQ(p->GetRefCount(), 1);   // the depacketizer's reference was released
    // The last frame stays until something closes it.
    EXPECT_EQ(m_Video->m_Buffer.m_Length, 5);
}

TEST_F(VideoBase, NothingIsDeliveredBeforeTheFirstKeyFrame)
{
    EXPECT_EQ(m_Video->m_WaitKey, 1u);
    FeedFrame({Text(kNonKey, "p1")});
    FeedFrame({Text(kNonKey, "p2")});
    FeedFrame({Text(kKey, "i1")});
    FeedFrame({Text(kNonKey, "p3")});
    FeedFrame({Text(kNonKey, "p4")});   // closes p3
    EXPECT_EQ(m_Video->m_PackCalls, 4);
    ASSERT_EQ(m_Sink.Count(), 2u);
    EXPECT_EQ(m_Sink.Payload(0), ToBytes(Text(kKey, "i1")));
    EXPECT_EQ(m_Sink.Payload(1), ToBytes(Text(kNonKey, "p3")));
    EXPECT_EQ(m_Video->m_WaitKey, 0u);
}

TEST_F(VideoBase, SequenceWrapsWithinAFrame)
{
    m_B.m_Seq = 65534;
    FeedFrame({Text(kKey, "a"), "b", "c", "d"});   // 65534, 65535, 0, 1
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 1u);
    EXPECT_EQ(m_Sink.Payload(0), ToBytes(Text(kKey, "abcd")));
    EXPECT_EQ(m_Log.CountContaining("SN Error"), 0);
}

TEST_F(VideoBase, GapInsideAFrameDropsItAndWaitsForAKeyFrame)
{
    FeedFrame({Text(kKey, "k")});
    m_B.m_Seq = 10;
    EXPECT_EQ(Feed(m_B.Next(Text(kNonKey, "a"))), 0);
    m_B.m_Seq++;   // 11 lost
    EXPECT_EQ(Feed(m_B.Next("c")), JX_ERR_CONTENT);
    EXPECT_EQ(m_Log.Count("SN Error: cur-sn = 12, prev-sn = 10\n"), 1);
    EXPECT_EQ(m_Video->m_WaitKey, 1u);
    EXPECT_EQ(m_Video->m_SeqNo, 12);
    m_B.m_TS += 3600;
    FeedFrame({Text(kNonKey, "lost")});   // dropped: waiting
    FeedFrame({Text(kKey, "back")});
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 2u);   // "k" and "back"
    EXPECT_EQ(m_Sink.Payload(0), ToBytes(Text(kKey, "k")));
    EXPECT_EQ(m_Sink.Payload(1), ToBytes(Text(kKey, "back")));
}

// A frame dropped on a loss is not gathered again from its remaining packets:
// a slice behind the gap that looks like a key frame would otherwise be
// delivered as a whole key frame.
TEST_F(VideoBase, RestOfAFrameDroppedOnALossIsRefused)
{
    FeedFrame({Text(kKey, "k")});
    EXPECT_EQ(Feed(m_B.Next(Text(kKey, "slice 1,"))), 0);
    m_B.m_Seq++;   // slice 2 lost
    EXPECT_EQ(Feed(m_B.Next(Text(kKey, "slice 3,"))), JX_ERR_CONTENT);
    EXPECT_EQ(Feed(m_B.Next(Text(kKey, "slice 4"))), JX_ERR_CONTENT);
    EXPECT_EQ(m_Video->m_Buffer.m_Length, 0);
    EXPECT_EQ(m_Video->m_FrameType, CRTPMediaVideo::kNoType);   // the subclass left it alone
    m_B.m_TS += 3600;
    FeedFrame({Text(kKey, "whole")});
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 2u);
    EXPECT_EQ(m_Sink.Payload(1), ToBytes(Text(kKey, "whole")));
}

// A frame that typed itself but stored nothing (here: a foreign packet taken
// while the rest of a dropped frame is refused) must not hand its type on:
// the next frame would be taken for a key frame.
TEST_F(VideoBase, StateOfAFrameThatStoredNothingDoesNotPassOn)
{
    FeedFrame({Text(kKey, "k")});
    Feed(m_B.Next(Text(kNonKey, "a")));
    m_B.m_Seq++;
    EXPECT_EQ(Feed(m_B.Next("c")), JX_ERR_CONTENT);   // gap: dropped, waiting for a key frame
    CTestRTP foreign = m_B;
    foreign.m_PT = 100;
    EXPECT_EQ(Feed(foreign.Next(Text(kKey, "fec"))), JX_ERR_CONTENT);   // typed, not stored
    EXPECT_EQ(m_Video->AppendFrame("x", 1), JX_ERR_CONTENT);          // still refused
    EXPECT_EQ(m_Video->m_Buffer.m_Length, 0);
    m_B.m_TS += 3600;
    FeedFrame({Text(kNonKey, "p")});
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 1u);   // only "k": the non-key frame waits for a key frame
    EXPECT_EQ(m_Video->m_WaitKey, 1u);
}

TEST_F(VideoBase, GapWhileTheBufferIsEmptyChangesOnlyTheRecordedNumbers)
{
    FeedFrame({Text(kKey, "k")});
    m_B.m_Seq = 10;
    Feed(m_B.Next(Text(kNonKey, "a")));
    m_B.m_Seq = 12;
    Feed(m_B.Next("c"));   // dropped, buffer now empty
    m_B.m_Seq = 20;
    EXPECT_EQ(Feed(m_B.Next("x")), JX_ERR_CONTENT);   // rest of the dropped frame
    EXPECT_EQ(m_Log.CountContaining("SN Error"), 1);
    EXPECT_EQ(m_Video->m_SeqNo, 20);
    EXPECT_EQ(m_Video->m_TimeStamp, m_B.m_TS);
    EXPECT_EQ(m_Video->m_Buffer.m_Length, 0);
}

// Between frames a gap is not looked for: the frame before it is delivered.
TEST_F(VideoBase, GapAcrossFramesIsNotCheckedHere)
{
    m_B.m_Seq = 1;
    FeedFrame({Text(kKey, "a"), "b"});   // 1, 2
    m_B.m_Seq = 5;                       // 3 and 4 lost
    FeedFrame({Text(kNonKey, "c")});
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 2u);
    EXPECT_EQ(m_Sink.Payload(0), ToBytes(Text(kKey, "ab")));
    EXPECT_EQ(m_Log.CountContaining("SN Error"), 0);
}

TEST_F(VideoBase, SSRCIsLearnedAndAnotherIsRefused)
{
    Feed(m_B.Next(Text(kKey, "a")));
    EXPECT_EQ(m_Video->m_SSRC, 0x11223344u);
    CTestRTP other = m_B;
    other.m_SSRC = 0x55667788;
    EXPECT_EQ(Feed(other.Next("x")), JX_ERR_CONTENT);
    EXPECT_EQ(m_Log.Count("video SSRC Error: curr-ssrc = 0x55667788, prev-ssrc = 0x11223344\n"), 1);
    EXPECT_EQ(m_Video->m_SSRC, 0x11223344u);
    EXPECT_EQ(m_Video->m_Buffer.m_Length, 0);   // the frame is dropped
    EXPECT_EQ(m_Video->m_WaitKey, 1u);
    other.m_TS += 3600;
    EXPECT_EQ(Feed(other.Next("y")), JX_ERR_CONTENT);   // every later one too
    EXPECT_EQ(m_Log.CountContaining("video SSRC Error"), 2);
    EXPECT_EQ(m_Sink.Count(), 0u);
}

TEST_F(VideoBase, PresetSSRCRefusesTheFirstPacketOfAnother)
{
    m_Video->m_SSRC = 0xAABBCCDD;   // from the SETUP reply
    EXPECT_EQ(Feed(m_B.Next(Text(kKey, "a"))), JX_ERR_CONTENT);
    EXPECT_EQ(m_Log.Count("video SSRC Error: curr-ssrc = 0x11223344, prev-ssrc = 0xaabbccdd\n"), 1);
    m_B.m_SSRC = 0xAABBCCDD;
    m_B.m_TS += 3600;
    FeedFrame({Text(kKey, "b")});
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 1u);
    EXPECT_EQ(m_Sink.Payload(0), ToBytes(Text(kKey, "b")));
}

TEST_F(VideoBase, ForeignPayloadTypeIsNotCheckedButTaken)
{
    Feed(m_B.Next(Text(kKey, "a")));
    const uint16_t nSeq = m_Video->m_SeqNo;
    const uint32_t nTS = m_Video->m_TimeStamp;
    CTestRTP foreign = m_B;
    foreign.m_PT = 97;
    foreign.m_TS += 12345;
    foreign.m_Seq += 50;
    foreign.m_SSRC = 0x99999999;
    EXPECT_EQ(Feed(foreign.Next("F")), 0);
    EXPECT_EQ(m_Video->m_SeqNo, nSeq);
    EXPECT_EQ(m_Video->m_TimeStamp, nTS);
    EXPECT_EQ(m_Video->m_SSRC, 0x11223344u);
    EXPECT_EQ(m_Sink.Count(), 0u);   // no frame closed
    Feed(m_B.Next("b"));             // in sequence with "a"
    m_B.m_TS += 3600;
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 1u);
    EXPECT_EQ(m_Sink.Payload(0), ToBytes(Text(kKey, "aFb")));
    EXPECT_EQ(m_Log.Size(), 0u);
}

// The frame-rate examples: 3600 ticks give 25 from the first frame on, a key
// frame after 50 frames over 180000 ticks gives 25 again, 3000 ticks give 30.
TEST_F(VideoBase, FrameRateFromTheStream)
{
    FeedFrame({Text(kKey, "k0")});
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 1u);
    EXPECT_FLOAT_EQ(m_Sink.Frame(0)->FrameGetFPS(), 25.0f);
    EXPECT_EQ(m_Video->m_FrameCount, 1u);
    m_B.m_TS += 3600;
    for (int i = 2; i < 50; ++i) {
        FeedFrame({Text(kNonKey, "p")});
    }
    FeedFrame({Text(kKey, "k50")});                    // frame 50
    EXPECT_EQ(m_Video->m_FrameCount, 50u);
    m_Sink.Clear();
    // From here frames come every 3000 ticks; the key frame renews the estimate.
    for (int i = 0; i < 10; ++i) {
        FeedFrame({Text(kNonKey, "q")}, 3000);
    }
    FeedFrame({Text(kKey, "k61")}, 3000);
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 12u);
    EXPECT_FLOAT_EQ(m_Sink.Frame(0)->FrameGetFPS(), 25.0f);    // the key frame 50
    EXPECT_FLOAT_EQ(m_Sink.Frame(10)->FrameGetFPS(), 25.0f);   // not renewed before a key frame
    EXPECT_FLOAT_EQ(m_Sink.Frame(11)->FrameGetFPS(), 30.0f);
    EXPECT_DOUBLE_EQ(m_Video->m_FrameRate, 30.0);
    EXPECT_EQ(m_Video->m_FrameCount, 1u);
}

struct RateCase {
    uint32_t nCount;
    double fRate;
    uint16_t nType;
    uint32_t nTS, nPrevTS, nRefTS;
    uint32_t nCountAfter;
    double fRateAfter;
    uint32_t nRefTSAfter;
};

TEST_F(VideoBase, UpdateFrameRateTable)
{
    const RateCase cases[] = {
        {0, 0.0, 0, 3600, 0, 0, 1, 25.0, 3600},                  // first frame
        {0, 0.0, 0, 3000, 0, 0, 1, 30.0, 3000},
        {0, 0.0, 1, 500, 500, 0, 1, 25.0, 500},                  // no distance: 25
        {0, 0.0, 0, 100, 0xFFFFF254, 0, 1, 25.0, 100},           // 3600 ticks across the wrap
        {7, 0.0, 0, 3600, 0, 9, 1, 25.0, 3600},                  // rate 0: starts again
        {4, 25.0, 0, 99999, 0, 0, 5, 25.0, 0},                   // non-key: counts only
        {50, 25.0, 1, 190000, 0, 10000, 1, 25.0, 190000},        // 50 frames over 180000
        {10, 25.0, 1, 30000, 0, 0, 1, 30.0, 30000},
        {10, 25.0, 1, 777, 0, 777, 1, 25.0, 777},                // key at the reference: 25
    };
    for (const RateCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nCount << " " << c.fRate << " " << c.nTS);
        m_Video->m_FrameCount = c.nCount;
        m_Video->m_FrameRate = c.fRate;
        m_Video->m_FrameType = c.nType;
        m_Video->m_TimeStamp = c.nTS;
        m_Video->m_PrevTimeStamp = c.nPrevTS;
        m_Video->m_RefTimeStamp = c.nRefTS;
        EXPECT_EQ(m_Video->UpdateFrameRate(), 0);
        EXPECT_EQ(m_Video->m_FrameCount, c.nCountAfter);
        EXPECT_DOUBLE_EQ(m_Video->m_FrameRate, c.fRateAfter);
        EXPECT_EQ(m_Video->m_RefTimeStamp, c.nRefTSAfter);
    }
}

CJXTime After(const CJXTime& t, uint32_t nMS)
{
    CJXTime r(&t, 0);
    r.Add(nMS);
    return r;
}

TEST_F(VideoBase, FrameTime)
{
    CJXTime ref(nullptr, 0);
    ref.m_Time = 1700000000;
    ref.m_MS = 950;
    m_Video->m_RefTime = ref;
    m_Video->m_FrameRate = 25.0;
    m_Video->m_FrameCount = 4;
    m_Video->m_FrameType = 0;
    CJXTime now(nullptr, 0);
    now.m_Time = 1800000000;
    CJXTime t = now;
    m_Video->GetFrameTime(t);
    EXPECT_EQ(t.m_Time, After(ref, 120).m_Time);
    EXPECT_EQ(t.m_MS, 70u);   // 950 + 120 ms

    // Left as it is: a key frame, no estimate, a rate below 0.01, and an
    // offset that a 32-bit millisecond count cannot hold.
    struct { uint16_t nType; uint32_t nCount; double fRate; } keep[] = {
        {1, 4, 25.0}, {0, 0, 25.0}, {0, 4, 0.009}, {0, 50000000, 0.01}};
    for (const auto& k : keep) {
        m_Video->m_FrameType = k.nType;
        m_Video->m_FrameCount = k.nCount;
        m_Video->m_FrameRate = k.fRate;
        CJXTime u = now;
        m_Video->GetFrameTime(u);
        EXPECT_EQ(u.m_Time, now.m_Time) << k.nCount;
        EXPECT_EQ(u.m_MS, now.m_MS);
    }
}

bool SameTime(const CPacket* p, const CJXTime& t)
{
    YRTIME y{};
    t.GetTime(y);
    const YRTIME& f = p->FrameGetTime();
    return f.wYear == y.wYear && f.wMonth == y.wMonth && f.wDay == y.wDay && f.wHour == y.wHour &&
           f.wMinute == y.wMinute && f.wSecond == y.wSecond && f.wMilliseconds == y.wMilliseconds;
}

// Non-key frames are stamped with the reference time plus their share of
// frame intervals: the fourth frame of a 25 fps stream with 120 ms.
TEST_F(VideoBase, DeliveredFramesCarryTheFrameTime)
{
    FeedFrame({Text(kKey, "k")});
    FeedFrame({Text(kNonKey, "1")});
    const CJXTime ref = m_Video->m_RefTime;
    FeedFrame({Text(kNonKey, "2")});
    FeedFrame({Text(kNonKey, "3")});
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 4u);
    // The key frame is stamped with the time of packing, the reference point.
    EXPECT_TRUE(SameTime(m_Sink.Frame(1), After(ref, 40)));
    EXPECT_TRUE(SameTime(m_Sink.Frame(2), After(ref, 80)));
    EXPECT_TRUE(SameTime(m_Sink.Frame(3), After(ref, 120)));
}

TEST_F(VideoBase, KeyFramesGetTheParameterSetsInFront)
{
    CTestHead head;
    m_Video->m_Prefix = &head;
    FeedFrame({Text(kKey, "idr")});
    FeedFrame({Text(kNonKey, "p")});
    Feed(m_B.Next(Text(kKey, "idr2")));
    m_Video->m_NalFlags = JX_NAL_FLAG_SPS;   // this frame brought its own SPS
    m_B.m_TS += 3600;
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 3u);
    Bytes expect(std::begin(CTestHead::kSPS), std::end(CTestHead::kSPS));
    expect.insert(expect.end(), std::begin(CTestHead::kPPS), std::end(CTestHead::kPPS));
    Bytes key = expect;
    for (char c : Text(kKey, "idr")) key.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(m_Sink.Payload(0), key);
    EXPECT_EQ(m_Sink.Tail(0), Bytes(32, 0));
    EXPECT_EQ(m_Sink.Payload(1), ToBytes(Text(kNonKey, "p")));
    Bytes key2(std::begin(CTestHead::kPPS), std::end(CTestHead::kPPS));
    for (char c : Text(kKey, "idr2")) key2.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(m_Sink.Payload(2), key2);
}

TEST_F(VideoBase, HeadWritingAnotherSizeThanPromisedDeliversNothing)
{
    CTestHead head;
    head.m_WriteError = 1;
    m_Video->m_Prefix = &head;
    m_Video->m_Buffer.AppendDAT("\x65" "x", 2);
    m_Video->m_FrameType = 1;
    EXPECT_EQ(m_Video->DeliverFrame(1, 1, 0, 0, &head, 0), JX_ERR_CONTENT);
    EXPECT_EQ(m_Sink.Count(), 0u);
    EXPECT_EQ(m_Log.CountContaining("CRTPMediaVideo::DeliverFrame("), 1);
}

TEST_F(VideoBase, MarkedFrameTypeAndZeroTailInARecycledPacket)
{
    // A frame of 0xEE bytes goes back to the packet pool; the next frame of
    // the same size class must still end in 32 zero bytes.
    const std::string first(1500, '\xEE'), second(1000, 'a');   // both in the 2048-byte class
    m_Video->m_Buffer.AppendDAT(first.data(), 1500);
    ASSERT_EQ(m_Video->DeliverFrame(0, 1, 0, 0), 0);
    m_Sink.Clear();
    m_Video->m_Buffer.Empty();
    m_Video->m_Buffer.AppendDAT(second.data(), 1000);
    ASSERT_EQ(m_Video->DeliverFrame(9, 2, 1920, 1080), 0);
    ASSERT_EQ(m_Sink.Count(), 1u);
    EXPECT_EQ(m_Sink.Payload(0), ToBytes(second));
    EXPECT_EQ(m_Sink.Tail(0), Bytes(32, 0));
    EXPECT_EQ(m_Sink.Frame(0)->FrameGetType(), 9);
    EXPECT_EQ(m_Sink.Frame(0)->FrameGetCodec(), 2);
    EXPECT_EQ(m_Sink.Frame(0)->FrameGetWidth(), 1920);
    EXPECT_EQ(m_Sink.Frame(0)->FrameGetHeight(), 1080);
}

// A receiver that does not keep the frame lets it go back to the pool: steady
// delivery allocates no packet per frame, and the frame buffer is reused.
TEST_F(VideoBase, SteadyStreamAllocatesNothingPerPacketOrFrame)
{
    struct CDropSink : CRTPSocket {
        int OnRecvFrame(CPacket* p) override { m_Bytes += p->FrameGetLength(); ++m_Frames; return 0; }
        size_t m_Bytes = 0;
        int m_Frames = 0;
    } sink;
    auto* pVideo = new CTestVideo(&sink);
    sink.m_Media = pVideo;
    EXPECT_EQ(pVideo->m_Buffer.m_Size, CRTPMediaVideo::kInitialBuffer);
    const char* pStorage = pVideo->m_Buffer.m_Data;
    const std::string chunk(1400, 'v');
    auto FeedOne = [&](const Bytes& pkt) { sink.OnRecvRTP(pkt.data(), static_cast<unsigned int>(pkt.size())); };
    uint64_t nAllocAfterWarmUp = 0;
    for (int f = 0; f < 200; ++f) {
        FeedOne(m_B.Next(Text(f == 0 ? kKey : kNonKey, chunk.c_str())));
        for (int i = 0; i < 30; ++i) FeedOne(m_B.Next(chunk));
        m_B.m_TS += 3600;
        if (f == 10) nAllocAfterWarmUp = CPacket::GetAllocCount();
    }
    EXPECT_EQ(sink.m_Frames, 199);
    EXPECT_EQ(sink.m_Bytes, 199u * 31u * 1400u + 199u);
    EXPECT_EQ(CPacket::GetAllocCount(), nAllocAfterWarmUp);
    EXPECT_EQ(pVideo->m_Buffer.m_Data, pStorage);
    EXPECT_EQ(pVideo->m_Buffer.m_Size, CRTPMediaVideo::kInitialBuffer);
}

Bytes Pattern(size_t n, uint32_t nSeed)
{
    Bytes b(n);
    uint32_t x = nSeed;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

TEST_F(VideoBase, KeyFrameOfTwoMegabytes)
{
    Bytes frame = Pattern(2 << 20, 7);
    frame[0] = 0x65;
    for (size_t nPos = 0; nPos < frame.size(); nPos += 1400) {
        const size_t n = std::min<size_t>(1400, frame.size() - nPos);
        ASSERT_EQ(Feed(m_B.Next(frame.data() + nPos, n)), 0);
    }
    m_B.m_TS += 3600;
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 1u);
    EXPECT_TRUE(m_Sink.Payload(0) == frame);
    EXPECT_EQ(m_Sink.Tail(0), Bytes(32, 0));
}

TEST_F(VideoBase, FrameOverTheCapIsDroppedAndLoggedOnce)
{
    FeedFrame({Text(kKey, "k")});
    const Bytes chunk = Pattern(60000, 3);
    const int nChunks = CRTPMediaVideo::kMaxFrameBytes / 60000 + 1;
    for (int nFrame = 0; nFrame < 2; ++nFrame) {
        int nRefused = 0;
        for (int i = 0; i < nChunks + 3; ++i) {
            nRefused += Feed(m_B.Next(chunk)) != 0 ? 1 : 0;
            ASSERT_LE(m_Video->m_Buffer.m_Length, CRTPMediaVideo::kMaxFrameBytes);
        }
        EXPECT_EQ(nRefused, 4);   // the one that passed the cap and the three after it
        EXPECT_EQ(m_Video->m_WaitKey, 1u);
        m_B.m_TS += 3600;
    }
    EXPECT_EQ(m_Log.CountContaining("Frame over 8388608 bytes dropped"), 1);
    FeedFrame({Text(kNonKey, "waiting")});
    FeedFrame({Text(kKey, "after")});
    Feed(m_B.Next(kNonKey));
    ASSERT_EQ(m_Sink.Count(), 2u);
    EXPECT_EQ(m_Sink.Payload(1), ToBytes(Text(kKey, "after")));
}

TEST_F(VideoBase, AppendNALWritesOneWholeUnit)
{
    const uint8_t h264[1] = {0x65};
    const uint8_t h265[2] = {0x26, 0x01};
    EXPECT_EQ(m_Video->AppendNAL(h264, 1, reinterpret_cast<const uint8_t*>("ab"), 2), 0);
    EXPECT_EQ(m_Video->AppendNAL(h265, 2, reinterpret_cast<const uint8_t*>("c"), 1), 0);
    EXPECT_EQ(Bytes(m_Video->m_Buffer.m_Data, m_Video->m_Buffer.m_Data + m_Video->m_Buffer.m_Length),
              HexBytes("00 00 00 01 65 61 62 00 00 00 01 26 01 63"));
    EXPECT_EQ(m_Video->AppendNAL(h264, 3, nullptr, 0), JX_ERR_ARG);
    EXPECT_EQ(m_Video->AppendNAL(h264, 1, nullptr, 1), JX_ERR_ARG);
    // A unit that would pass the cap is not stored in part.
    std::vector<uint8_t> big(CRTPMediaVideo::kMaxFrameBytes - 16);
    EXPECT_EQ(m_Video->AppendNAL(h264, 1, big.data(), static_cast<int32_t>(big.size())), JX_ERR_CONTENT);
    EXPECT_EQ(m_Video->m_Buffer.m_Length, 0);
}

TEST_F(VideoBase, BaseInterfaceDefaults)
{
    EXPECT_EQ(m_Video->Setup("packetization-mode=1"), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(m_Video->CRTPMedia::PackFrame(), JX_ERR_UNSUPPORTED);
    double fRate = -1.0;
    EXPECT_EQ(m_Video->GetFrameRate(fRate), JX_ERR_UNSUPPORTED);
    EXPECT_EQ(fRate, -1.0);
    EXPECT_EQ(m_Video->GetHead(), nullptr);
    CJXMediaDesc* pDesc = CJXMediaDesc::Create(1);
    ASSERT_NE(pDesc, nullptr);
    EXPECT_EQ(m_Video->GetHead(pDesc), JX_ERR_STATE);   // no head
    pDesc->Release();
}

TEST(RTPMediaDeath, NullStreamIsAProgrammingError)
{
    EXPECT_DEATH({ CTestVideo video(nullptr); }, "src/modules/JXRtsp/rtpmedia====>\\(Func = CRTPMedia, line = ");
}

// ---------------------------------------------------------------------------
// Audio base

class CTestAudio : public CRTPMediaAudio {
public:
    explicit CTestAudio(CRTPSocket* pSocket) : CRTPMediaAudio(pSocket) { m_PayloadType = 8; }
    int OnRecvRTP(CRTPParser& rtp) override
    {
        int nResult = CRTPMediaAudio::OnRecvRTP(rtp);
        return nResult != 0 ? nResult : AppendFrame(rtp.Payload(), rtp.PayloadLength());
    }
    int PackFrame() override
    {
        m_Frames.emplace_back(m_Buffer.m_Data, m_Buffer.m_Data + m_Buffer.m_Length);
        return 0;
    }
    int GetHead(CJXMediaDesc*) override { return 0; }
    std::vector<std::string> m_Frames;
};

TEST(RTPMediaAudio, OrderChecks)
{
    CRTPLogCapture log;
    CTestFrameSink sink;
    auto* pAudio = new CTestAudio(&sink);
    sink.m_Media = pAudio;
    CTestRTP b;
    b.m_PT = 8;
    b.m_Seq = 65535;
    auto Feed = [&](const Bytes& pkt) {
        CRTPParser rtp;
        EXPECT_EQ(rtp.Setup(pkt.data(), static_cast<uint32_t>(pkt.size())), 0);
        return pAudio->OnRecvRTP(rtp);
    };
    Feed(b.Next("aa"));
    Feed(b.Next("bb"));   // 0 follows 65535
    b.m_TS += 160;
    Feed(b.Next("cc"));
    b.m_Seq += 1;         // a gap inside the frame: cleared, the packet starts it afresh
    EXPECT_EQ(Feed(b.Next("dd")), 0);
    EXPECT_EQ(log.Count("SN Error: cur-sn = 3, prev-sn = 1\n"), 1);
    CTestRTP other = b;
    other.m_SSRC = 0x01010101;
    EXPECT_EQ(Feed(other.Next("zz")), JX_ERR_CONTENT);
    EXPECT_EQ(log.Count("audio SSRC Error: curr-ssrc = 0x01010101, prev-ssrc = 0x11223344\n"), 1);
    b.m_Seq = other.m_Seq;
    Feed(b.Next("ee"));
    b.m_TS += 160;
    Feed(b.Next("ff"));
    CTestRTP foreign = b;
    foreign.m_PT = 0;
    foreign.m_TS += 99;
    Feed(foreign.Next("gg"));   // not checked, does not close the frame, still taken
    b.m_TS += 160;
    Feed(b.Next("hh"));
    // "dd" went with the SSRC error; "ee" then started the frame again.
    EXPECT_EQ(pAudio->m_Frames, (std::vector<std::string>{"aabb", "ee", "ffgg"}));
    EXPECT_EQ(log.CountContaining("SN Error"), 1);
}

// An audio frame that passes the limit is dropped; the packets after it
// start a new one.
TEST(RTPMediaAudio, FrameOverTheCapStartsAgain)
{
    CTestFrameSink sink;
    auto* pAudio = new CTestAudio(&sink);
    sink.m_Media = pAudio;
    CTestRTP b;
    b.m_PT = 8;
    const std::string chunk(60000, 'a');
    int nRefused = 0;
    for (int i = 0; i < 20; ++i) {
        nRefused += sink.Feed(b.Next(chunk)) == 0 && pAudio->m_Buffer.m_Length == 0 ? 1 : 0;
        ASSERT_LE(pAudio->m_Buffer.m_Length, CRTPMediaAudio::kMaxFrameBytes);
    }
    EXPECT_EQ(nRefused, 1);                                // the 18th: 1080000 bytes > 1 MiB
    EXPECT_EQ(pAudio->m_Buffer.m_Length, 2 * 60000);       // the 19th and 20th
}

// ---------------------------------------------------------------------------
// CRTPFrame

class CCountingFrame : public CRTPFrame {
public:
    explicit CCountingFrame(int* pFreed) : m_Freed(pFreed) {}
    void OnDataFree(void* pItem) override
    {
        ++*m_Freed;
        delete static_cast<int*>(pItem);
    }
    int* m_Freed;
};

TEST(RTPFrame, LastReleaseFreesTheItemsThroughTheSubclass)
{
    int nFreed = 0;
    auto* pFrame = new CCountingFrame(&nFreed);
    pFrame->Add(new int(1));
    pFrame->Add(new int(2));
    EXPECT_EQ(pFrame->Acquire(), 2);
    EXPECT_EQ(pFrame->Release(), 1);
    EXPECT_EQ(nFreed, 0);
    EXPECT_EQ(pFrame->Release(), 0);   // deleted here
    EXPECT_EQ(nFreed, 2);
}

TEST(RTPFrame, CountDoesNotWrap)
{
    int nFreed = 0;
    auto* pFrame = new CCountingFrame(&nFreed);
    pFrame->Add(new int(1));
    for (int i = 2; i <= 0xFFFF; ++i) {
        ASSERT_EQ(pFrame->Acquire(), i);
    }
    EXPECT_EQ(pFrame->Acquire(), JX_ERR_STATE);
    for (int i = 0xFFFE; i >= 0; --i) {
        ASSERT_EQ(pFrame->Release(), i);
    }
    EXPECT_EQ(nFreed, 1);
}

// ---------------------------------------------------------------------------
// The stream's receive seam

class CCountingMedia : public CRTPMedia {
public:
    CCountingMedia(CRTPSocket* pSocket, bool* pDeleted) : CRTPMedia(pSocket), m_Deleted(pDeleted) {}
    ~CCountingMedia() override { *m_Deleted = true; }
    int OnRecvRTP(CRTPParser& rtp) override
    {
        ++m_Packets;
        m_LastLen = rtp.PayloadLength();
        return JX_ERR_CONTENT;   // not passed on by the stream
    }
    int GetHead(CJXMediaDesc*) override { return 0; }
    int m_Packets = 0;
    int m_LastLen = 0;
    bool* m_Deleted;
};

TEST(RTPSocket, ParsesIntoTheDepacketizerAndOwnsIt)
{
    bool bDeleted = false;
    {
        CRTPSocket stream;
        auto* pMedia = new CCountingMedia(&stream, &bDeleted);
        stream.m_Media = pMedia;
        const Bytes pkt = CTestRTP().Build("12345");
        EXPECT_EQ(stream.OnRecvRTP(pkt.data(), 11), JX_ERR_ARG);
        EXPECT_EQ(pMedia->m_Packets, 0);
        EXPECT_EQ(stream.OnRecvRTP(pkt.data(), static_cast<unsigned int>(pkt.size())), 0);
        EXPECT_EQ(pMedia->m_Packets, 1);
        EXPECT_EQ(pMedia->m_LastLen, 5);
        EXPECT_EQ(stream.OnRecvFrame(nullptr), JX_ERR_ARG);
        CPacket* pFrame = CPacket::Acquire(64, 0);
        ASSERT_NE(pFrame, nullptr);
        EXPECT_EQ(stream.OnRecvFrame(pFrame), JX_ERR_STATE);   // no client
        pFrame->Release();
    }
    EXPECT_TRUE(bDeleted);
}

}  // namespace
