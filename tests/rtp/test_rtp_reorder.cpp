// The reorder window: packet scripts on the test clock, what leaves it and in
// which order.
#include "rtpreorder.h"
#include "test_rtp.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

constexpr uint32_t kOtherSSRC = 0x55667788;

// What the window handed on: sequence numbers apart by blanks, "x" for bytes
// that are not RTP.
struct CReleased {
    std::string m_Order;
    static void OnPacket(void* pUser, const uint8_t* pData, uint32_t nLen)
    {
        auto* pSelf = static_cast<CReleased*>(pUser);
        const std::string one = nLen < 12 ? "x" : std::to_string((pData[2] << 8) | pData[3]);
        pSelf->m_Order += (pSelf->m_Order.empty() ? "" : " ") + one;
    }
};

// Script tokens, apart by blanks: a number, a packet with that sequence number
// ("B" in front: of another SSRC; "big" in front: larger than a slot; a
// trailing "!": dropped); "x" bytes too short for RTP; "wait=" the test clock
// moves on (ms); "poll" Poll; "out=" what has left so far, commas as blanks.
struct Row {
    const char* pName;
    const char* pScript;
    const char* pOut;   // everything handed on, in order
    uint64_t nDropped;
};

// clang-format off
const Row kRows[] = {
    {"in order, each at once", "1 out=1 2 out=1,2 3 4", "1 2 3 4", 0},
    {"a swapped pair", "1 3 out=1 2 4", "1 2 3 4", 0},
    {"a packet 3 late", "1 3 4 5 out=1 2 6", "1 2 3 4 5 6", 0},
    {"duplicates dropped, held or gone", "1 2 2! 4 4! 3 3! 5", "1 2 3 4 5", 3},
    {"a real gap released after 50 ms", "1 3 4 wait=49 poll out=1 wait=1 poll out=1,3,4 2! 5", "1 3 4 5", 1},
    {"each waits from its own arrival", "1 3 wait=30 5 wait=20 poll out=1,3 wait=29 poll out=1,3 wait=1 poll", "1 3 5", 0},
    {"a packet that comes in after the wait releases too", "1 3 wait=50 4", "1 3 4", 0},
    {"after 16 packets the gap is given up", "1 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 out=1 18", "1 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18", 0},
    {"a second gap keeps waiting when the window moves", "1 3 4 6 7 8 9 10 11 12 13 14 15 16 17 out=1 18 out=1,3,4 5", "1 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18", 0},
    {"sequence wrap 65535 to 0", "65533 65535 0 out=65533 65534 2 1", "65533 65534 65535 0 1 2", 0},
    {"a big jump is not held", "1 2 4 5000 out=1,2,4,5000 5001", "1 2 4 5000 5001", 0},
    {"a restart far back is not held", "1000 1001 500 501", "1000 1001 500 501", 0},
    {"a new source is not held, nor its order", "1 3 B900 out=1,3,900 B902 B901 4", "1 3 900 901 902 4", 0},
    {"a datagram too large to hold goes out, the gap given up", "1 big3 out=1,3 2! 4", "1 3 4", 1},
    {"bytes that are not RTP pass", "1 x 3 x 2", "1 x x 2 3", 0},
};
// clang-format on

void RunRow(const Row& row)
{
    CJXTime::UseTestClock(1000000);
    CReleased out;
    CRTPReorder window;
    ASSERT_EQ(window.Init(&CReleased::OnPacket, &out), JX_OK);
    std::istringstream in(row.pScript);
    for (std::string tok; in >> tok;) {
        SCOPED_TRACE(tok);
        const bool bDrop = tok.back() == '!';
        if (bDrop) tok.pop_back();
        if (tok.rfind("wait=", 0) == 0) {
            CJXTime::AdvanceTestClock(std::stoull(tok.substr(5)));
        } else if (tok == "poll") {
            window.Poll(CJXTime::GetTimeMS());
        } else if (tok.rfind("out=", 0) == 0) {
            std::string want = tok.substr(4);
            for (char& c : want)
                c = c == ',' ? ' ' : c;
            EXPECT_EQ(out.m_Order, want);
        } else if (tok == "x") {
            const uint8_t bytes[4] = {0x80, 0x60, 0, 1};
            EXPECT_EQ(window.Push(bytes, sizeof(bytes), CJXTime::GetTimeMS()), JX_OK);
        } else {
            CTestRTP b;
            const bool bBig = tok.rfind("big", 0) == 0;
            if (tok[0] == 'B') b.m_SSRC = kOtherSSRC;
            b.m_Seq = static_cast<uint16_t>(std::stoul(tok.substr(bBig ? 3 : tok[0] == 'B' ? 1 : 0)));
            const Bytes packet = b.Build(Bytes(bBig ? CRTPReorder::kSlotBytes : 10, 'p').data(),
                                         bBig ? CRTPReorder::kSlotBytes : 10);
            EXPECT_EQ(window.Push(packet.data(), uint32_t(packet.size()), CJXTime::GetTimeMS()),
                      bDrop ? JX_ERR_CONTENT : JX_OK);
        }
    }
    window.Flush();
    CJXTime::UseRealClock();
    EXPECT_EQ(out.m_Order, row.pOut);
    EXPECT_EQ(window.m_Dropped, row.nDropped);
    EXPECT_EQ(window.Held(), 0u);
}

TEST(RTPReorder, Scripts)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.pName);
        RunRow(row);
    }
}

// Nothing leaves before Init sets where; Reset forgets what is held.
TEST(RTPReorder, InitAndReset)
{
    CRTPReorder window;
    CTestRTP b;
    const Bytes one = b.Next("p"), two = b.Next("p"), three = b.Next("p");
    EXPECT_EQ(window.Push(one.data(), uint32_t(one.size()), 0), JX_ERR_STATE);
    EXPECT_EQ(window.Init(nullptr, nullptr), JX_ERR_ARG);
    CReleased out;
    ASSERT_EQ(window.Init(&CReleased::OnPacket, &out), JX_OK);
    window.Push(one.data(), uint32_t(one.size()), 0);
    window.Push(three.data(), uint32_t(three.size()), 0);
    EXPECT_EQ(window.Held(), 1u);
    window.Reset();
    EXPECT_EQ(window.Held(), 0u);
    window.Push(two.data(), uint32_t(two.size()), 0);   // the window starts again from it
    window.Flush();
    EXPECT_EQ(out.m_Order, "1000 1001");
}

}   // namespace
