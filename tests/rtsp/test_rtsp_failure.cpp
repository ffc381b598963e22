// Why an attempt failed, as a host reads it (GetLastFailure): each cause
// against the scripted server on 127.0.0.1, with its phase, status and words.
#include "rtsp_test_util.h"

namespace {

constexpr int32_t kWaitMs = 3000;

CServerScript& Describe(CServerScript& s, const std::string& reply)
{
    return s.Accept().Expect("DESCRIBE").Reply(reply);
}

}   // namespace

TEST(RtspFailure, EachCauseIsKeptInCodesAndWords)
{
    const std::string k401 =
        "RTSP/1.0 401 Unauthorized\r\nCSeq: {CSeq}\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n";
    const struct {
        const char* m_Name;
        std::function<void(CServerScript&)> m_Script;   // null: nothing listens on the port
        int32_t m_Phase;
        int32_t m_Cause;
        int32_t m_Status;
        const char* m_Text;
    } kRows[] = {
        {"404", [](auto& s) { Describe(s, "RTSP/1.0 404 Not Found\r\nCSeq: {CSeq}\r\n\r\n"); }, JXRTSP_PHASE_DESCRIBING,
         JXRTSP_CAUSE_STATUS, 404, "DESCRIBE: 404 Not Found"},
        {"401 refused", [&](auto& s) { Describe(s, k401).Expect("DESCRIBE").Reply(k401); }, JXRTSP_PHASE_DESCRIBING,
         JXRTSP_CAUSE_AUTH, 401, "authentication refused (401)"},
        {"461",
         [](auto& s) {
             Describe(s, SdpReply(kSdpVideoOnly))
                 .Expect("SETUP")
                 .Reply("RTSP/1.0 461 Unsupported Transport\r\nCSeq: {CSeq}\r\n\r\n");
         },
         JXRTSP_PHASE_SETTING_UP, JXRTSP_CAUSE_STATUS, 461, "SETUP: 461 Unsupported Transport"},
        {"refused connection", nullptr, JXRTSP_PHASE_CONNECTING, JXRTSP_CAUSE_NETWORK, 0,
         "connect: connection refused"},
        {"an HTTP server", [](auto& s) { Describe(s, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"); },
         JXRTSP_PHASE_DESCRIBING, JXRTSP_CAUSE_NOT_RTSP, 0, "not an RTSP server"},
        {"closed after DESCRIBE", [](auto& s) { s.Accept().Expect("DESCRIBE").Close(); }, JXRTSP_PHASE_DESCRIBING,
         JXRTSP_CAUSE_NETWORK, 0, "DESCRIBE: connection closed by the server"},
        // The reason phrase is bounded and only printable text is kept.
        {"reason with a control byte",
         [](auto& s) {
             Describe(s, SdpReply(kSdpVideoOnly))
                 .Expect("SETUP")
                 .Reply(SetupReply("7", "RTP/AVP/TCP;unicast;interleaved=0-1"))
                 .Expect("PLAY")
                 .Reply("RTSP/1.0 500 Bad\x01" + std::string(80, 'x') + "\r\nCSeq: {CSeq}\r\n\r\n");
         },
         JXRTSP_PHASE_PLAY, JXRTSP_CAUSE_STATUS, 500, nullptr},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.m_Name);
        CScriptedServer srv;
        std::string url = srv.Url("/cam");
        if (row.m_Script) {
            row.m_Script(srv.Script());
        } else {
            srv.Stop();   // its port is closed now
        }
        if (row.m_Cause == JXRTSP_CAUSE_AUTH) url = srv.UrlWithUser("admin", "pw", "/cam");
        CHostStream stream(url);
        CJXStreamFailure failure;
        ASSERT_EQ(stream->GetLastFailure(failure), 0);
        EXPECT_EQ(failure.m_Phase, JXRTSP_PHASE_NONE);
        ASSERT_EQ(stream->Start(), 0);
        ASSERT_TRUE(stream.m_Recorder.WaitReports(1, kWaitMs)) << srv.Errors();
        ASSERT_EQ(stream->GetLastFailure(failure), 0);
        EXPECT_EQ(failure.m_Phase, row.m_Phase);
        EXPECT_EQ(failure.m_Cause, row.m_Cause);
        EXPECT_EQ(failure.m_Status, row.m_Status);
        EXPECT_EQ(failure.m_Failures, 1u);
        EXPECT_EQ(failure.m_Old, 0u);
        if (row.m_Text != nullptr) {
            EXPECT_STREQ(failure.m_Text, row.m_Text);
        } else {
            EXPECT_EQ(std::string(failure.m_Reason), "Bad?" + std::string(60, 'x'));
        }
        // A refused connect has the system's number; a close by the server has none.
        if (row.m_Cause == JXRTSP_CAUSE_NETWORK) {
            EXPECT_EQ(failure.m_SysError != 0, row.m_Script == nullptr);
        }
        EXPECT_EQ(srv.Errors(), "");
    }
}

// Kept through the retry delay, counted per failed attempt, and marked old
// (the count back to 0) once the stream plays again.
TEST(RtspFailure, KeptUntilTheStreamPlaysAgain)
{
    CTestClock clock;
    CScriptedServer srv;
    Describe(srv.Script(), "RTSP/1.0 404 Not Found\r\nCSeq: {CSeq}\r\n\r\n");
    CHostStream stream(srv.Url("/cam"));
    Describe(srv.Script(), "RTSP/1.0 404 Not Found\r\nCSeq: {CSeq}\r\n\r\n");
    PlayAndStream(srv.Script().Accept(), 10);
    ASSERT_EQ(stream->Start(), 0);
    CJXStreamFailure failure;
    for (uint32_t nFailures : {1u, 2u}) {
        // 4102 comes once the retry delay is armed.
        ASSERT_TRUE(stream.m_Recorder.WaitReports(2 * nFailures, kWaitMs)) << srv.Errors();
        ASSERT_EQ(stream->GetLastFailure(failure), 0);
        EXPECT_EQ(failure.m_Failures, nFailures);
        EXPECT_STREQ(failure.m_Text, "DESCRIBE: 404 Not Found");
        clock.Advance(CRTSPClient::kReconnectMs);
    }
    const auto playing = [&] { return stream.m_Recorder.Reports().back() == CReport{4101, 0}; };
    ASSERT_TRUE(WaitFor(playing, kWaitMs)) << srv.Errors();
    ASSERT_EQ(stream->GetLastFailure(failure), 0);
    EXPECT_EQ(failure.m_Old, 1u);
    EXPECT_EQ(failure.m_Failures, 0u);
    EXPECT_STREQ(failure.m_Text, "DESCRIBE: 404 Not Found");
}
