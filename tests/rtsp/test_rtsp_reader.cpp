// The control connection's receive walk and the requests it leads to, without
// a network: bytes go into the receive buffer, requests come from the send buffer.
#include "rtsp_test_util.h"

#include <algorithm>
#include <string>

namespace {

const char kUrl[] = "rtsp://127.0.0.1:554/cam";

std::string Frame(uint8_t nChannel, CTestRTP& rtp, const std::string& payload)
{
    return InterleavedFrame(nChannel, rtp.Next(payload));
}

uint32_t VideoPackets(COfflineClient& c)
{
    return c->m_Video ? c->m_Video->m_RecvRTP : 0;
}

std::string Counts(COfflineClient& c)
{
    char sz[128];
    snprintf(sz, sizeof(sz), "v%u c%u a%u q%u u%u s%d p%u", VideoPackets(c), c->m_Video ? c->m_Video->m_RecvRTCP : 0,
             c->m_Audio ? c->m_Audio->m_RecvRTP : 0, c->m_Reader.m_ServerRequests,
             c->m_Reader.m_UnsolicitedResponses, c->m_Reader.m_StrayBytes > 0 ? 1 : 0, c->m_Pending);
    return sz;
}

}   // namespace

// Keep-alives go at half the time-out the server named, at least 1 s apart (10 s
// when it names none), and wait behind unsent bytes. A server that refuses
// SET_PARAMETER (405, 451 or 501) gets OPTIONS with the session from then on.
TEST(RtspRequests, KeepAlivePeriodAndMethod)
{
    const struct {
        const char* m_Session;
        uint32_t m_PeriodMs;
        const char* m_Status;
        const char* m_NextMethod;
    } kRows[] = {
        {"S1;timeout=60", 30000, "405 Method Not Allowed", "OPTIONS"},
        {"S1;timeout=5", 2500, "451 Parameter Not Understood", "OPTIONS"},
        {"S1;timeout=1", 1000, "501 Not Implemented", "OPTIONS"},
        {"S1;timeout=2", 1000, "200 OK", "SET_PARAMETER"},
        {"S1;x=1", 10000, "404 Not Found", "SET_PARAMETER"},
        {"S1;timeout=0", 10000, "400 Bad Request", "SET_PARAMETER"},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(std::string(row.m_Session) + " " + row.m_Status);
        COfflineClient c(kUrl);
        c.PlayTo(kSdpVideoOnly, row.m_Session);
        EXPECT_EQ(c->m_KeepAlive.m_Period, row.m_PeriodMs);
        c->GetSendBuf() = "unsent";
        EXPECT_EQ(c->SendKeepAlive(), 0);
        EXPECT_EQ(c.Sent(), "unsent");   // the keep-alive stays due
        c->GetSendBuf().Empty();
        ASSERT_EQ(c->SendKeepAlive(), 0);
        EXPECT_EQ(c->m_KeepAlive.m_Period, row.m_PeriodMs);
        ASSERT_EQ(c.Feed(std::string("RTSP/1.0 ") + row.m_Status + "\r\nCSeq: {CSeq}\r\n\r\n"), 0);
        EXPECT_EQ(c->m_Pending, CRTSPClient::kPendingNone);
        ASSERT_EQ(c->SendKeepAlive(), 0);
        EXPECT_EQ(c.Sent(), std::string(row.m_NextMethod) +
                                " rtsp://127.0.0.1:554/cam RTSP/1.0\r\nCSeq: " + std::to_string(c->m_CSeq - 1) +
                                "\r\nSession: S1\r\nUser-Agent: RTSPClient/1.0\r\n\r\n");
    }
    COfflineClient c(kUrl);   // the CSeq wraps after 65535
    c->m_CSeq = 65535;
    for (const char* pCSeq : {"CSeq: 65535\r\n", "CSeq: 0\r\n"}) {
        ASSERT_EQ(c->SendDescribe(), 0);
        EXPECT_NE(c.Sent().find(pCSeq), std::string::npos);
    }
}

namespace {

// The text with "{CSeq}" written as the given number.
std::string WithCSeq(std::string text, int nCSeq)
{
    for (size_t pos; (pos = text.find("{CSeq}")) != std::string::npos;)
        text.replace(pos, 6, std::to_string(nCSeq));
    return text;
}

// Gives the first cut bytes, then the rest, to a reader of a buffer that
// keeps what was not consumed; the first error, else 0 and what is left.
template <class TRead>
int32_t FeedCut(TRead read, const std::string& bytes, size_t cut, std::string& left)
{
    for (const std::string& piece : {bytes.substr(0, cut), bytes.substr(cut)}) {
        left += piece;
        const int32_t nRet = read(left);
        if (nRet < 0) return nRet;
        left.erase(0, size_t(nRet));
    }
    return 0;
}

// Records what a reader hands on as text: "R<status>", "P<channel>",
// "Q<method>". A response with CSeq 99 is not awaited; any status but 200
// and an empty packet are refused.
class CTraceSink : public IRTSPReaderSink {
public:
    bool IsAwaited(const CRTSPCommand& r) const override { return r.m_CSeq != 99; }
    int32_t OnResponse(CRTSPCommand& r) override
    {
        m_Trace += "R" + std::to_string(r.m_StatusCode) + " ";
        return r.m_StatusCode == 200 ? 0 : JX_ERR_FAIL;
    }
    int32_t OnPacket(uint8_t nChannel, const char*, uint32_t nLen) override
    {
        m_Trace += "P" + std::to_string(nChannel) + " ";
        return nLen == 0 ? JX_ERR_CONTENT : 0;
    }
    void OnServerRequest(const CRTSPServerRequest& q) override { m_Trace += std::string("Q") + q.m_Method + " "; }
    bool KeepReading() const override { return true; }
    const char* LogName() const override { return kUrl; }
    std::string m_Trace;
};

}   // namespace

// Byte streams cut at every position, given to a reader alone and to a
// client: whatever the cut, the same units are read, none twice, nothing is
// left over, and the same error ends the walk.
TEST(RtspReader, ByteStreamsCutAtEveryPosition)
{
    CTestRTP rtp;
    const std::string dialogue = WithCSeq(SdpReply(kSdpVideoAudio), 1) +
                                 WithCSeq(SetupReply("A1;timeout=60", "RTP/AVP/TCP;unicast;interleaved=0-1"), 2) +
                                 WithCSeq(SetupReply("A1", "RTP/AVP/TCP;unicast;interleaved=2-3"), 3) +
                                 Frame(0, rtp, "v") + Frame(2, rtp, "a") + Frame(9, rtp, "nobody") +
                                 "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: A1\r\n\r\n" + Frame(0, rtp, "one") +
                                 Frame(1, rtp, "rtcp") + Frame(2, rtp, "audio") + Frame(0, rtp, "two");
    const std::string dollarBody =
        WithCSeq(SdpReply(std::string(kSdpVideoOnly) + "a=x-price:$5\r\n"), 1) + Frame(0, rtp, "early");
    const std::string badSession = WithCSeq(SdpReply(kSdpVideoOnly), 1) +
                                   std::string("RTSP/1.0 200 OK\r\nCSeq: 2\r\nSession: ab\x01") + "cd\r\n\r\n";
    const std::string empty("$\x00\x00\x00", 4);
    const std::string stray = std::string("\r\n\x00\xff junk ", 10) + "\r\n";
    // The bodies hold a '$' and "RTSP/": neither may be taken for a unit.
    const std::string requests =
        Frame(0, rtp, "a") +
        "GET_PARAMETER rtsp://127.0.0.1:554/cam RTSP/1.0\r\nCSeq: 9\r\ncontent-length: 12\r\n\r\n$RTSP/1.0 x\n" +
        Frame(0, rtp, "b") + "OPTIONS * RTSP/1.0\nCSeq: 10\n\n" + Frame(0, rtp, "c");
    const std::string unsolicited = "RTSP/1.0 200 OK\r\nCSeq: 99\r\nContent-Length: 6\r\n\r\n" +
                                    std::string("$\x00\x00\x01zz", 6) + Frame(0, rtp, "after");
    static const char kNul[] = "RTSP/1.0 200 OK\r\nBad\0Line\r\n\r\n";
    static const char kNulAfterPrefix[] = "RTSP/\0 200 OK\r\n\r\n";
    const struct {
        const char* m_Name;
        bool m_Client;   // through a client that sent DESCRIBE, else to a reader alone
        std::string m_Bytes;
        int32_t m_Result;   // the first error, else 0
        // Client: as Counts writes them. Reader: the units, then unsolicited
        // answers and whether stray bytes were seen.
        const char* m_Expect;
        const char* m_Log = nullptr;   // a log line expected m_LogCount times
        int m_LogCount = 0;
    } kRows[] = {
        // clang-format off
        // Frames before the PLAY answer count; one on a channel nobody has is dropped.
        {"whole dialogue", true, dialogue, 0, "v3 c1 a2 q0 u0 s0 p0"},
        // The stream before SETUP is answered takes the m= port (0) as its channel.
        {"answer with a $ in its body", true, dollarBody, 0, "v1 c0 a0 q0 u0 s0 p3"},
        {"refused DESCRIBE", true, "RTSP/1.0 404 Not Found\r\nCSeq: 1\r\n\r\n", JX_ERR_FAIL, ""},
        // A session identifier that would break a request line ends the attempt.
        {"control character in the session", true, badSession, JX_ERR_CONTENT, ""},
        {"answer with a $ in its body", false, dollarBody, 0, "R200 P0 u0 s0"},
        {"one frame", false, Frame(0, rtp, "split frame payload"), 0, "P0 u0 s0"},
        // A zero-length frame takes four bytes; a packet refused is skipped.
        {"empty frames", false, empty + empty + Frame(0, rtp, "after"), 0, "P0 P0 P0 u0 s0", "Parse RTP/RTCP Data Error(ret = ", 2},
        {"stray bytes", false, Frame(0, rtp, "a") + stray + Frame(0, rtp, "b") + "\r\n" + Frame(0, rtp, "c"), 0, "P0 P0 P0 u0 s1", "Skipping stray bytes", 1},
        {"requests from the server", false, requests, 0, "P0 QGET_PARAMETER P0 QOPTIONS P0 u0 s0"},
        // A request may begin with any capital, the first and last included.
        {"stray bytes then ANNOUNCE", false, "\r\nANNOUNCE rtsp://a/b RTSP/1.0\r\nCSeq: 3\r\n\r\n" + Frame(0, rtp, "x"), 0, "QANNOUNCE P0 u0 s1", "from the server (ANNOUNCE)", 1},
        {"stray bytes then ZAP", false, "\r\nZAP * RTSP/1.0\r\nCSeq: 4\r\n\r\n" + Frame(0, rtp, "x"), 0, "QZAP P0 u0 s1", "from the server (ZAP)", 1},
        // Text like a request that is none is skipped a word at a time: the frame behind it arrives.
        {"broken request then a frame", false, "OPTIONS " + Frame(0, rtp, "k") + "\r\n\r\n", 0, "P0 u0 s1"},
        // Logged once a connection; its body's "$" is no frame.
        {"unsolicited answer", false, unsolicited, 0, "P0 u1 s0", "RTSP Client(rtsp://127.0.0.1:554/cam): State Error", 1},
        // Errors: whatever the cut, fewer bytes than "RTSP/" are awaited, not dropped.
        {"refused answer", false, "RTSP/1.0 404 Not Found\r\nCSeq: 1\r\n\r\n", JX_ERR_FAIL, ""},
        {"no status code", false, "RTSP/1.0 OK\r\n\r\n", JX_ERR_CONTENT, ""},
        {"no version", false, "RTSP/x\r\n\r\n", JX_ERR_CONTENT, ""},
        {"NUL in the head", false, std::string(kNul, sizeof(kNul) - 1), JX_ERR_CONTENT, ""},
        {"NUL right behind RTSP/", false, std::string(kNulAfterPrefix, sizeof(kNulAfterPrefix) - 1), JX_ERR_CONTENT, ""},
        // A web server's answer fails the reading; after a response such text is stray.
        {"an HTTP answer", false, "HTTP/1.1 200 OK\r\n\r\n", JX_ERR_CONTENT, ""},
        {"HTTP/ after a response", false, "RTSP/1.0 200 OK\r\n\r\nHTTP/" + Frame(0, rtp, "x"), 0, "R200 P0 u0 s1"},
        // clang-format on
    };
    for (const auto& row : kRows) {
        for (size_t cut = 0; cut <= row.m_Bytes.size(); ++cut) {
            SCOPED_TRACE(std::string(row.m_Name) + " cut " + std::to_string(cut));
            CRTPLogCapture log;
            std::string left;
            if (row.m_Client) {
                COfflineClient c(kUrl);
                ASSERT_EQ(c->SendDescribe(), 0);
                auto read = [&](const std::string& b) {   // the client takes all it is given
                    const int32_t nRet = c->OnRecvBytes(b.data(), int32_t(b.size()));
                    EXPECT_EQ(nRet < 0 ? int32_t(b.size()) : nRet, int32_t(b.size()));
                    return nRet;
                };
                ASSERT_EQ(FeedCut(read, row.m_Bytes, cut, left), row.m_Result);
                if (row.m_Result != 0) continue;
                EXPECT_EQ(Counts(c), row.m_Expect);
                EXPECT_EQ(c->m_Audio ? c->m_Audio->m_RecvRTCP : 0, 0u);   // channel 9 is nobody's
                const bool bPlaying = std::string(row.m_Expect).find(" p0") != std::string::npos;
                EXPECT_EQ(c.m_Recorder.Reports(), bPlaying ? Reports({{4101, 0}}) : Reports());
                EXPECT_EQ(c->GetRecvBuf().m_Length, 0);
            } else {
                CTraceSink sink;
                CRTSPCommand response;
                CRTSPReader reader(sink, response);
                auto read = [&](const std::string& b) { return reader.Read(b.data(), int32_t(b.size())); };
                ASSERT_EQ(FeedCut(read, row.m_Bytes, cut, left), row.m_Result);
                if (row.m_Result != 0) continue;
                EXPECT_EQ(sink.m_Trace + "u" + std::to_string(reader.m_UnsolicitedResponses) + " s" +
                              (reader.m_StrayBytes > 0 ? "1" : "0"),
                          row.m_Expect);
                EXPECT_EQ(reader.m_ServerRequests, uint32_t(std::count(sink.m_Trace.begin(), sink.m_Trace.end(), 'Q')));
            }
            EXPECT_EQ(left, "");
            EXPECT_EQ(row.m_Log ? log.CountContaining(row.m_Log) : 0, row.m_LogCount);
        }
    }
}

// Requests from the server, whole and a byte at a time, are answered with their
// CSeq (echoed as sent) and our session: 200 for OPTIONS and GET_PARAMETER, 501
// for the rest. A response to another CSeq than the pending one is read whole
// and dropped, and the real answer still counts.
TEST(RtspReader, RequestsAnsweredAndStrayResponsesSkipped)
{
    const std::string kTail = "Session: 12345678\r\nUser-Agent: RTSPClient/1.0\r\n\r\n";
    const std::string k200 = "RTSP/1.0 200 OK\r\n", k501 = "RTSP/1.0 501 Not Implemented\r\n";
    const struct {
        const char* m_Request;
        std::string m_Answer;
    } kRows[] = {
        {"OPTIONS * RTSP/1.0\r\nCSeq: 7\r\n\r\n", k200 + "CSeq: 7\r\n" + kTail},
        {"GET_PARAMETER rtsp://a/b RTSP/1.0\r\nCSeq: 8\r\nContent-Length: 6\r\n\r\na: b\r\n",
         k200 + "CSeq: 8\r\n" + kTail},
        {"OPTIONS * RTSP/1.0\nCSeq:11\n\n", k200 + "CSeq: 11\r\n" + kTail},
        {"ANNOUNCE rtsp://a/b RTSP/1.0\r\nCSeq: 1234567\r\nContent-Length: 3\r\n\r\nabc",
         k501 + "CSeq: 1234567\r\n" + kTail},
        {"SET_PARAMETER rtsp://a/b RTSP/1.0\r\nCSeq: 2\r\n\r\n", k501 + "CSeq: 2\r\n" + kTail},
        {"OPTIONS * RTSP/1.0\r\n\r\n", k200 + kTail},                        // no CSeq to echo
        {"OPTIONS * RTSP/1.0\r\nCSeq: 3x\r\n\r\n", k200 + kTail},            // not a number
        {"OPTIONS * RTSP/1.0\r\nCSeq: 12345678901\r\n\r\n", k200 + kTail},   // too long
    };
    for (const auto& row : kRows) {
        for (size_t nPiece : {1, 0}) {
            SCOPED_TRACE(row.m_Request + std::to_string(nPiece));
            COfflineClient c(kUrl);
            c.PlayTo(kSdpVideoOnly);
            CTestRTP rtp;
            ASSERT_EQ(c.Feed(row.m_Request + Frame(0, rtp, "x"), nPiece), 0);
            EXPECT_EQ(c.Sent(), row.m_Answer);
            EXPECT_EQ(c->m_Reader.m_ServerRequests, 1u);
            EXPECT_EQ(VideoPackets(c), 1u);   // the frame behind it still arrives
        }
    }
    const struct {
        const char* m_First;
        bool m_Handled;
    } kResponses[] = {
        {"RTSP/1.0 200 OK\r\nCSeq: 99\r\nContent-Length: 4\r\n\r\n$abc", false},
        {"RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", false},   // an answer to an older request
        {"RTSP/1.0 200 OK\r\n\r\n", true},               // no CSeq: taken as the answer
    };
    for (const auto& row : kResponses) {
        SCOPED_TRACE(row.m_First);
        COfflineClient c(kUrl);
        c.PlayTo(kSdpVideoOnly);
        ASSERT_EQ(c->SendKeepAlive(), 0);
        ASSERT_EQ(c->m_PendingCSeq, uint16_t(c->m_CSeq - 1));
        ASSERT_EQ(c.Feed(row.m_First, 1), 0);
        EXPECT_EQ(c->m_Pending, row.m_Handled ? CRTSPClient::kPendingNone : CRTSPClient::kPendingKeepAlive);
        EXPECT_EQ(c->m_Reader.m_UnsolicitedResponses, row.m_Handled ? 0u : 1u);
        ASSERT_EQ(c.Feed("RTSP/1.0 200 OK\r\nCSeq: {CSeq}\r\n\r\n"), 0);
        EXPECT_EQ(c->m_Pending, CRTSPClient::kPendingNone);
    }
}

// Receive buffer bounds: heads arriving a byte at a time are read in linear time
// (each byte looked at a bounded number of times); a head longer than the whole
// buffer fails at once instead of waiting for bytes that could never complete
// it; four of the largest frames, in pieces of 4096, all arrive.
TEST(RtspReader, ReceiveBufferBounds)
{
    std::string pad;
    for (int i = 0; i < 200; ++i)
        pad += "X-Pad-" + std::to_string(i) + ": " + std::string(290, 'a') + "\r\n";
    for (const bool bRequest : {true, false}) {
        SCOPED_TRACE(bRequest ? "request" : "response");
        const std::string bytes =
            (bRequest ? "GET_PARAMETER rtsp://a/b RTSP/1.0\r\nCSeq: 3\r\n" : "RTSP/1.0 200 OK\r\nCSeq: {CSeq}\r\n") +
            pad + "\r\n";
        ASSERT_GT(bytes.size(), 60000u);
        COfflineClient c(kUrl);
        c.PlayTo(kSdpVideoOnly);
        ASSERT_EQ(c->SendKeepAlive(), 0);
        const uint64_t nBefore = c->ExaminedBytes();
        ASSERT_EQ(c.Feed(bytes, 1), 0);
        EXPECT_EQ(c->m_Reader.m_ServerRequests, bRequest ? 1u : 0u);
        EXPECT_EQ(c->m_Pending, bRequest ? CRTSPClient::kPendingKeepAlive : CRTSPClient::kPendingNone);
        EXPECT_LE(c->ExaminedBytes() - nBefore, 8 * bytes.size());
    }
    CRTPLogCapture log;
    CRTSPClient client;
    client.m_RecvCapacity = 1024;
    client.Open(kUrl);
    ASSERT_EQ(client.PrepareSession(), 0);
    ASSERT_EQ(client.SendDescribe(), 0);
    std::string head = "RTSP/1.0 200 OK\r\nCSeq: 1\r\n";
    while (head.size() < 4096)
        head += "X-Filler: 0123456789abcdef\r\n";
    int32_t nRet = 0;
    for (size_t pos = 0; pos < head.size() && nRet >= 0; pos += size_t(nRet)) {
        nRet = client.OnRecvBytes(head.data() + pos, int32_t(head.size() - pos));
        if (nRet == 0) break;
    }
    EXPECT_EQ(nRet, JX_ERR_CONTENT);
    EXPECT_EQ(log.CountContaining("Receive buffer full."), 1);
    COfflineClient c(kUrl);
    c.PlayTo(kSdpVideoOnly);
    CTestRTP rtp;
    const std::string frame = Frame(0, rtp, std::string(65535 - 12, 'x'));
    ASSERT_EQ(frame.size(), 65539u);
    ASSERT_EQ(c.Feed(frame + frame + frame + frame, 4096), 0);
    EXPECT_EQ(VideoPackets(c), 4u);
}

// Every frame goes to subscribers; the last key frame is kept (the caller's
// packet stays valid when a later one replaces it); after the session, nothing.
TEST(RtspFrames, KeyFramesAreKeptAndFramesGoToSubscribers)
{
    CTestClock clock;
    COfflineClient c(kUrl);
    c.PlayTo(kSdpVideoAudio);
    for (CRTPSocket* pStream : {c->m_Video, c->m_Audio}) {
        delete pStream->m_Media;
        pStream->m_Media = new CStubMedia(pStream);
    }
    auto text = [](const CPacket* p) {
        return std::string(reinterpret_cast<const char*>(p->FrameGetData()), p->FrameGetLength());
    };
    CPacket* pFrame = nullptr;
    CTestRTP rtp, audio;
    audio.m_PT = 8;   // the audio stream takes only its own payload type
    ASSERT_EQ(c.Feed(Frame(0, rtp, "Kfirst") + Frame(0, rtp, "pdelta")), 0);
    EXPECT_EQ(c.m_Recorder.Frames(), 2);
    ASSERT_EQ(c->GetLastIFrame(pFrame), 0);
    ASSERT_NE(pFrame, nullptr);
    EXPECT_EQ(text(pFrame), "Kfirst");
    ASSERT_EQ(c.Feed(Frame(0, rtp, "Ksecond") + Frame(2, audio, "Aaudio")), 0);
    EXPECT_EQ(text(pFrame), "Kfirst");
    pFrame->Release();
    ASSERT_EQ(c->GetLastIFrame(pFrame), 0);
    EXPECT_EQ(text(pFrame), "Ksecond");
    pFrame->Release();
    EXPECT_EQ(c.m_Recorder.Frames(), 4);
    CJXMediaDesc* pDesc = nullptr;
    c->OnStop();
    EXPECT_EQ(c->GetLastIFrame(pFrame), JX_ERR_STATE);
    EXPECT_EQ(pFrame, nullptr);
    EXPECT_EQ(c->GetMediaDesc(pDesc), JX_ERR_STATE);
    EXPECT_EQ(pDesc, nullptr);
}

// Interleaved RTP with two packets lost and a sender report on the odd
// channel; 500 ms after the report, the receiver report goes out on that
// channel, byte for byte as RFC 3550 A.1 and A.3 count: the source is valid
// from its second packet (1001), so 9 expected, 7 received, 2 lost, fraction
// 2 * 256 / 9 = 56; LSR the middle of the report's NTP time; DLSR 500 ms as
// 0x8000 / 65536 s. The host's counts see every packet of the source.
TEST(RtspReader, ReceptionCountsAndReceiverReport)
{
    CTestClock clock;
    COfflineClient c(kUrl);
    c.PlayTo(kSdpVideoOnly);
    delete c->m_Video->m_Media;   // a frame per packet, from the source SETUP named
    c->m_Video->m_Media = new CStubMedia(c->m_Video);
    c->m_Video->m_Media->m_SSRC = CTestRTP().m_SSRC;
    c->GetSendBuf().Empty();
    CTestRTP b;
    for (uint16_t nSeq = 1000; nSeq < 1010; ++nSeq, b.m_TS += 3600, clock.Advance(40)) {
        b.m_Seq = nSeq;
        if (nSeq == 1004 || nSeq == 1005) continue;
        ASSERT_EQ(c.Feed(InterleavedFrame(0, b.Build("Nslice"))), 0);
    }
    ASSERT_EQ(c.Feed(InterleavedFrame(1, HexBytes("80c80006 11223344 e5a1b2c3 d4e5f607 00016000 00000008 00000100"))), 0);
    clock.Advance(500);
    c->SendReceiverReports();
    const std::string sent = c.Sent();
    char own[9];
    snprintf(own, sizeof(own), "%08x", c->m_Video->m_OwnSSRC);
    const Bytes report = HexBytes(std::string("81c90007") + own + "11223344 38000002 000003f1 00000000 b2c3d4e5 00008000");
    ASSERT_GE(sent.size(), 4 + report.size());
    EXPECT_EQ(sent.substr(0, 3), std::string("$\x01\x00", 3));
    EXPECT_EQ(ToHex(reinterpret_cast<const uint8_t*>(sent.data()) + 4, report.size()), ToHex(report));
    EXPECT_NE(sent.find(std::string("\x01") + char(strlen(c->m_CName)) + c->m_CName), std::string::npos);
    CJXStreamStats stats;
    ASSERT_EQ(c->GetStatistics(stats), 0);
    EXPECT_EQ(stats.m_Video.m_PacketsReceived, 8u);
    EXPECT_EQ(stats.m_Video.m_PacketsLost, 2u);
    EXPECT_EQ(stats.m_Video.m_FramesDelivered, 8u);
    EXPECT_EQ(stats.m_Audio.m_PacketsReceived, 0u);
}
