// The RTSP response reader (CRTSPCommand) and the Authorization values
// (CRTSPAuthen). Digest values were computed independently with Python's
// hashlib; the qop case is the worked example of RFC 2617 section 3.5.
#include "rtspcommand.h"
#include "scripted_server.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int32_t Parse(CRTSPCommand& cmd, const std::string& text, size_t n)
{
    return cmd.ParseResponse(text.data(), static_cast<int32_t>(n));
}

// Feeds the text as a receive buffer would: whatever was not taken stays in
// front, more bytes arrive behind it. Returns the bytes taken in all.
size_t FeedInTwo(CRTSPCommand& cmd, const std::string& text, size_t nCut)
{
    size_t nTaken = 0;
    int32_t r = Parse(cmd, text, nCut);
    EXPECT_GE(r, 0) << "cut " << nCut;
    nTaken += size_t(r > 0 ? r : 0);
    std::string rest = text.substr(nTaken);
    r = Parse(cmd, rest, rest.size());
    EXPECT_GE(r, 0) << "cut " << nCut;
    return nTaken + size_t(r > 0 ? r : 0);
}

const std::string kHead =
    "RTSP/1.0 200 OK\r\n"
    "CSeq: 7\r\n"
    "Content-Type: application/sdp\r\n"
    "Content-Length: 11\r\n"
    "\r\n";
const std::string kBody = "v=0\r\n$x=1\r\n";

} // namespace

TEST(RtspCommand, ResponseCutAtEveryByteIsReadOnce)
{
    const std::string text = kHead + kBody;
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        CRTSPCommand cmd;
        // Before the blank line nothing is taken: the head is taken whole.
        int32_t r = Parse(cmd, text, cut);
        if (cut < kHead.size()) {
            EXPECT_EQ(r, 0) << cut;
            EXPECT_EQ(cmd.m_StatusCode, 0) << cut;
        } else {
            EXPECT_EQ(r, int32_t(cut)) << cut;
        }
        std::string rest = text.substr(size_t(r));
        EXPECT_EQ(Parse(cmd, rest, rest.size()), int32_t(rest.size())) << cut;
        ASSERT_TRUE(cmd.IsCompleted()) << cut;
        EXPECT_EQ(cmd.m_StatusCode, 200);
        EXPECT_EQ(cmd.m_CSeq, 7);
        EXPECT_EQ(std::string(cmd.m_Body.c_str(), size_t(cmd.m_Body.m_Length)), kBody);
    }
}

TEST(RtspCommand, BodyInThreePiecesCompletesOnTheLast)
{
    CRTSPCommand cmd;
    const std::string text = kHead + kBody;
    const size_t a = kHead.size() + 3;
    const size_t b = kHead.size() + 7;
    EXPECT_EQ(Parse(cmd, text, a), int32_t(a));
    EXPECT_FALSE(cmd.IsCompleted());
    std::string second = text.substr(a, b - a);
    EXPECT_EQ(Parse(cmd, second, second.size()), int32_t(b - a));
    EXPECT_FALSE(cmd.IsCompleted());
    std::string third = text.substr(b);
    EXPECT_EQ(Parse(cmd, third, third.size()), int32_t(third.size()));
    EXPECT_TRUE(cmd.IsCompleted());
}

TEST(RtspCommand, TakesOnlyItsOwnBytes)
{
    const std::string first = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 4\r\n\r\nabcd";
    const std::string second = "RTSP/1.0 404 Not Found\r\nCSeq: 2\r\n\r\n";
    const std::string text = first + "$\x01\x00\x00" + second;
    CRTSPCommand cmd;
    EXPECT_EQ(Parse(cmd, text, text.size()), int32_t(first.size()));
    EXPECT_TRUE(cmd.IsCompleted());
    EXPECT_EQ(cmd.m_StatusCode, 200);
    cmd.Reset();
    EXPECT_EQ(cmd.m_StatusCode, 0);
    EXPECT_EQ(Parse(cmd, second, second.size()), int32_t(second.size()));
    EXPECT_EQ(cmd.m_StatusCode, 404);
}

TEST(RtspCommand, CameraVariantsOfTheHead)
{
    struct Case {
        const char* m_Name;
        std::string m_Text;
        int32_t m_Status;
        const char* m_Session;
        uint16_t m_Timeout;
    };
    const Case cases[] = {
        {"LF only", "RTSP/1.0 200 OK\nCSeq: 3\nSession: abc;timeout=60\n\n", 200, "abc", 60},
        {"mixed case", "RTSP/1.0 200 OK\r\ncseq: 3\r\nSESSION: Xy12 ; timeout=30\r\n\r\n", 200, "Xy12", 30},
        {"no reason", "RTSP/1.0 200\r\nCSeq: 3\r\nSession: 9\r\n\r\n", 200, "9", 0},
        {"no space after colon", "RTSP/1.0 454 Session Not Found\r\nCSeq:3\r\nSession:77\r\n\r\n", 454, "77", 0},
    };
    for (const Case& c : cases) {
        for (size_t cut = 0; cut <= c.m_Text.size(); ++cut) {
            CRTSPCommand cmd;
            EXPECT_EQ(FeedInTwo(cmd, c.m_Text, cut), c.m_Text.size()) << c.m_Name << " cut " << cut;
            ASSERT_TRUE(cmd.IsCompleted()) << c.m_Name;
            EXPECT_EQ(cmd.m_StatusCode, c.m_Status) << c.m_Name;
            EXPECT_EQ(cmd.m_CSeq, 3) << c.m_Name;
            ASSERT_NE(cmd.m_SessionID, nullptr) << c.m_Name;
            EXPECT_STREQ(cmd.m_SessionID, c.m_Session) << c.m_Name;
            EXPECT_EQ(cmd.m_SessionTimeout, c.m_Timeout) << c.m_Name;
        }
    }
}

TEST(RtspCommand, MalformedHeadsAreRefused)
{
    const char* const cases[] = {
        "RTSP/1.0 abc\r\n\r\n",
        "RTSP/1.0 2000 OK\r\n\r\n",
        "RTSP/1.0\r\n\r\n",
        "HELLO\r\n\r\n",
        "RTSP/1.0 200 OK\r\nContent-Length: -5\r\n\r\n",
        "RTSP/1.0 200 OK\r\nContent-Length: 99999999999\r\n\r\n",
    };
    for (const char* pText : cases) {
        CRTSPCommand cmd;
        EXPECT_LT(cmd.ParseResponse(pText, int32_t(strlen(pText))), 0) << ShowText(pText);
        EXPECT_EQ(cmd.m_StatusCode, 0) << pText;
    }
}

TEST(RtspCommand, OverlongHeadIsRefusedNotAwaited)
{
    std::string text = "RTSP/1.0 200 OK\r\n";
    while (text.size() <= size_t(CJXHTTPCommand::kMaxHeadBytes)) text += "X-Pad: 0123456789012345678901234567890123456789\r\n";
    CRTSPCommand cmd;
    EXPECT_LT(Parse(cmd, text, text.size()), 0);
}

TEST(RtspCommand, NothingToReadIsNotAFailure)
{
    CRTSPCommand cmd;
    EXPECT_EQ(cmd.ParseResponse(nullptr, 10), 0);
    EXPECT_EQ(cmd.ParseResponse("RTSP/1.0", 0), 0);
    EXPECT_EQ(cmd.ParseResponse("RTSP/1.0", -3), 0);
}

TEST(RtspCommand, RtpInfoIsKeptUntilReset)
{
    const std::string text = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nRTP-Info: url=rtsp://h/s/trackID=1;seq=1;rtptime=0\r\n\r\n";
    CRTSPCommand cmd;
    EXPECT_EQ(Parse(cmd, text, text.size()), int32_t(text.size()));
    ASSERT_NE(cmd.m_RtpInfo, nullptr);
    EXPECT_STREQ(cmd.m_RtpInfo, "url=rtsp://h/s/trackID=1;seq=1;rtptime=0");
    cmd.Reset();
    EXPECT_EQ(cmd.m_RtpInfo, nullptr);
}

TEST(RtspCommand, BuildHeadLineEndsWithCSeq)
{
    CRTSPCommand cmd;
    cmd.m_CSeq = 513;
    CJXString out;
    EXPECT_EQ(cmd.BuildHeadLine(out), 1);
    std::string text = out.c_str();
    const std::string tail = "CSeq: 513\r\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

// ---------------------------------------------------------------------------
// Authorization values

TEST(RtspAuthen, BasicValues)
{
    struct Case {
        const char* m_User;
        const char* m_Password;
        int32_t m_Result;
        const char* m_Value;
    };
    const Case cases[] = {
        {"admin", "12345", 0, "Basic YWRtaW46MTIzNDU="},
        {"user", "", 0, "Basic dXNlcjo="},
        {"user", nullptr, 0, "Basic dXNlcjo="},
        {nullptr, "pw", JX_ERR_ARG, ""},
        {"", "pw", JX_ERR_ARG, ""},
    };
    for (const Case& c : cases) {
        CRTSPAuthen authen;
        authen.SetUser(c.m_User, c.m_Password);
        CJXString out;
        EXPECT_EQ(authen.BuildRequest(out, "DESCRIBE", "rtsp://h/s"), c.m_Result);
        EXPECT_STREQ(out.c_str(), c.m_Value);
    }
}

TEST(RtspAuthen, DigestWithoutQopIsTheRfc2069Form)
{
    CRTSPAuthen authen;
    authen.SetUser("admin", "12345");
    ASSERT_EQ(authen.ParseResponse("Digest realm=\"IP Camera(21388)\", nonce=\"a1b2c3d4\", stale=\"FALSE\""), 0);
    ASSERT_NE(authen.m_Scheme, CJXHTTPAuthen::kSchemeBasic);
    CJXString out;
    EXPECT_EQ(authen.BuildRequest(out, "DESCRIBE", "rtsp://127.0.0.1:554/cam"), 0);
    EXPECT_STREQ(out.c_str(),
                 "Digest username=\"admin\", realm=\"IP Camera(21388)\", nonce=\"a1b2c3d4\", "
                 "uri=\"rtsp://127.0.0.1:554/cam\", response=\"096a4aaaee94e3773bf909153e5e10ac\"");
    // The uri is the request's own: SETUP names the track, and the digest changes.
    CJXString setup;
    EXPECT_EQ(authen.BuildRequest(setup, "SETUP", "rtsp://127.0.0.1:554/cam/trackID=1"), 0);
    EXPECT_NE(std::string(setup.c_str()).find("response=\"43a5423d0d691ed5ca19306888c23a7b\""), std::string::npos)
        << setup.c_str();
}

TEST(RtspAuthen, DigestWithQopAuthFollowsRfc2617)
{
    CRTSPAuthen authen;
    authen.SetUser("Mufasa", "Circle Of Life");
    ASSERT_EQ(authen.ParseResponse("Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
                                   "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
                                   "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""),
              0);
    authen.SetNextCNonce("0a4f113b");
    CJXString out;
    EXPECT_EQ(authen.BuildDigest(out, "GET", "/dir/index.html"), 0);
    EXPECT_STREQ(out.c_str(),
                 "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
                 "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
                 "response=\"6629fae49393a05397450978507c4ef1\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\", "
                 "qop=auth, nc=00000001, cnonce=\"0a4f113b\"");
    // The next answer counts on and makes a new client nonce.
    CJXString next;
    EXPECT_EQ(authen.BuildDigest(next, "GET", "/dir/index.html"), 0);
    std::string text = next.c_str();
    EXPECT_NE(text.find("nc=00000002"), std::string::npos) << text;
    EXPECT_EQ(text.find("cnonce=\"0a4f113b\""), std::string::npos) << text;
}

TEST(RtspAuthen, OpaqueWithoutQopIsSentBack)
{
    CRTSPAuthen authen;
    authen.SetUser("admin", "12345");
    ASSERT_EQ(authen.ParseResponse("Digest realm=\"r\", nonce=\"n\", opaque=\"op\""), 0);
    CJXString out;
    EXPECT_EQ(authen.BuildDigest(out, "PLAY", "rtsp://h/s"), 0);
    std::string text = out.c_str();
    EXPECT_NE(text.find("\", opaque=\"op\""), std::string::npos) << text;
    EXPECT_EQ(text.find("qop"), std::string::npos) << text;
}

TEST(RtspAuthen, OnlyAuthIntOfferedGetsThePlainForm)
{
    CRTSPAuthen authen;
    authen.SetUser("admin", "12345");
    ASSERT_EQ(authen.ParseResponse("Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\""), 0);
    CJXString out;
    EXPECT_EQ(authen.BuildDigest(out, "PLAY", "rtsp://h/s"), 0);
    EXPECT_EQ(std::string(out.c_str()).find("qop"), std::string::npos) << out.c_str();
}

TEST(RtspAuthen, BasicAndDigestOfferedTakesDigest)
{
    CRTSPAuthen authen;
    authen.SetUser("admin", "12345");
    ASSERT_EQ(authen.ParseResponse("Basic realm=\"r\", Digest realm=\"r\", nonce=\"n\""), 0);
    EXPECT_NE(authen.m_Scheme, CJXHTTPAuthen::kSchemeBasic);
    CJXString out;
    EXPECT_EQ(authen.BuildRequest(out, "DESCRIBE", "rtsp://h/s"), 0);
    EXPECT_EQ(std::string(out.c_str()).rfind("Digest ", 0), 0u) << out.c_str();
}

TEST(RtspAuthen, DigestRefusesMissingTextsAndKeepsQuotesInside)
{
    CRTSPAuthen authen;
    ASSERT_EQ(authen.ParseResponse("Digest realm=\"r\", nonce=\"n\""), 0);
    CJXString out;
    EXPECT_EQ(authen.BuildDigest(out, "PLAY", "rtsp://h/s"), JX_ERR_ARG);   // no user
    authen.SetUser("ad\"min\r\n", "pw");
    EXPECT_EQ(authen.BuildDigest(out, "", "rtsp://h/s"), JX_ERR_ARG);
    EXPECT_EQ(authen.BuildDigest(out, "PLAY", nullptr), JX_ERR_ARG);
    EXPECT_EQ(out.m_Length, 0);
    // A quote is escaped and a line end left out: the value stays one header line.
    EXPECT_EQ(authen.BuildDigest(out, "PLAY", "rtsp://h/s"), 0);
    std::string text = out.c_str();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_NE(text.find("username=\"ad\\\"min\""), std::string::npos) << text;
}

TEST(RtspAuthen, DigestWithoutNonceUsesTheEmptyText)
{
    CRTSPAuthen authen;
    authen.SetUser("u", "p");
    ASSERT_EQ(authen.ParseResponse("Digest realm=\"r\""), 0);
    CJXString out;
    ASSERT_EQ(authen.BuildDigest(out, "PLAY", "rtsp://h/s"), 0);
    // response = MD5(MD5("u:r:p") ":" "" ":" MD5("PLAY:rtsp://h/s"))
    EXPECT_STREQ(out.c_str(),
                 "Digest username=\"u\", realm=\"r\", nonce=\"\", uri=\"rtsp://h/s\", "
                 "response=\"f19bd6b35eee6f0cfb321817f8ea4d63\"");
}
