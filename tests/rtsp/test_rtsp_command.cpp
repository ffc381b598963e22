// What the RTSP reader and Authorization values add to the base library's:
// the RTP-Info line kept until Reset, the CSeq line written, a head taken
// whole and a body taken as it comes, and only its own bytes taken. Digest
// values were computed independently with md5sum; the qop row is the worked
// example of RFC 2617 section 3.5. Digest per algorithm and the choice among
// challenges are the base library's tests (HTTPAuthen).
#include "rtspcommand.h"
#include "scripted_server.h"

#include <gtest/gtest.h>

#include <string>

TEST(RtspCommand, ResponsesReadWholeAndCutAtEveryByte)
{
    const std::string kRtpInfo = "url=rtsp://h/s/trackID=1;seq=1;rtptime=0";
    const std::string kSecond = "RTSP/1.0 404 Not Found\r\nCSeq: 2\r\n\r\n";
    const struct {
        const char* m_Name;
        std::string m_Head;
        std::string m_Body;
        std::string m_Behind;   // bytes that belong to what follows: never taken
        int32_t m_CSeq;
        const char* m_RtpInfo;   // null: none
    } kRows[] = {
        {"body with a $", "RTSP/1.0 200 OK\r\nCSeq: 7\r\nContent-Type: application/sdp\r\nContent-Length: 11\r\n\r\n",
         "v=0\r\n$x=1\r\n", "", 7, nullptr},
        {"RTP-Info", "RTSP/1.0 200 OK\r\nCSeq: 5\r\nRTP-Info: " + kRtpInfo + "\r\n\r\n", "", "", 5, kRtpInfo.c_str()},
        {"frame and answer behind", "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 4\r\n\r\n", "abcd",
         std::string("$\x01\x00\x00", 4) + kSecond, 1, nullptr},
    };
    for (const auto& row : kRows) {
        const std::string own = row.m_Head + row.m_Body;
        const std::string text = own + row.m_Behind;
        for (size_t cut = 0; cut <= text.size(); ++cut) {
            SCOPED_TRACE(std::string(row.m_Name) + " cut " + std::to_string(cut));
            CRTSPCommand cmd;
            // Before the blank line nothing is taken; the body as it comes.
            const int32_t nFirst = cmd.ParseResponse(text.data(), int32_t(cut));
            const size_t nExpected = cut < row.m_Head.size() ? 0 : std::min(cut, own.size());
            ASSERT_EQ(nFirst, int32_t(nExpected));
            EXPECT_EQ(cmd.IsCompleted(), nExpected == own.size());
            const std::string rest = text.substr(nExpected);
            ASSERT_EQ(cmd.ParseResponse(rest.data(), int32_t(rest.size())), int32_t(own.size() - nExpected));
            ASSERT_TRUE(cmd.IsCompleted());
            EXPECT_EQ(cmd.m_StatusCode, 200);
            EXPECT_EQ(std::string(cmd.m_Body.c_str(), size_t(cmd.m_Body.m_Length)), row.m_Body);
            EXPECT_STREQ(cmd.m_RtpInfo, row.m_RtpInfo);
            CJXString line;
            EXPECT_EQ(cmd.BuildHeadLine(line), 1);
            const std::string written = line.c_str();
            const std::string tail = "CSeq: " + std::to_string(row.m_CSeq) + "\r\n";
            ASSERT_GE(written.size(), tail.size());
            EXPECT_EQ(written.substr(written.size() - tail.size()), tail);
            // Reset forgets the answer: the next one is read from scratch.
            cmd.Reset();
            EXPECT_EQ(cmd.m_RtpInfo, nullptr);
            EXPECT_EQ(cmd.m_StatusCode, 0);
            EXPECT_EQ(cmd.ParseResponse(kSecond.data(), int32_t(kSecond.size())), int32_t(kSecond.size()));
            EXPECT_EQ(cmd.m_StatusCode, 404);
        }
    }
}

// Exact values where given; else a piece it must hold and characters it must not.
TEST(RtspAuthen, AuthorizationValues)
{
    const char* kQopChallenge =
        "Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
        "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";
    const char* kQopValue =
        "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
        "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
        "response=\"6629fae49393a05397450978507c4ef1\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\", "
        "qop=auth, nc=00000001, cnonce=\"0a4f113b\"";
    const char* kRN = "Digest realm=\"r\", nonce=\"n\"";
    const struct {
        const char* m_Name;
        const char* m_User;
        const char* m_Password;
        const char* m_Challenge;   // null: none, Basic is sent
        const char* m_CNonce;      // null: a random one
        const char* m_Method;
        const char* m_Uri;
        int32_t m_Result;
        const char* m_Value;   // exact, or null
        const char* m_Has;
        const char* m_Lacks;   // none of these characters
    } kRows[] = {
        {"basic", "admin", "12345", nullptr, nullptr, "DESCRIBE", "rtsp://h/s", 0, "Basic YWRtaW46MTIzNDU=", "", ""},
        {"basic empty password", "user", "", nullptr, nullptr, "DESCRIBE", "rtsp://h/s", 0, "Basic dXNlcjo=", "", ""},
        {"basic no password", "user", nullptr, nullptr, nullptr, "DESCRIBE", "rtsp://h/s", 0, "Basic dXNlcjo=", "", ""},
        {"basic no user", nullptr, "pw", nullptr, nullptr, "DESCRIBE", "rtsp://h/s", JX_ERR_ARG, "", "", ""},
        {"basic empty user", "", "pw", nullptr, nullptr, "DESCRIBE", "rtsp://h/s", JX_ERR_ARG, "", "", ""},
        {"digest without qop", "admin", "12345",
         "Digest realm=\"IP Camera(21388)\", nonce=\"a1b2c3d4\", stale=\"FALSE\"", nullptr, "DESCRIBE",
         "rtsp://127.0.0.1:554/cam", 0,
         "Digest username=\"admin\", realm=\"IP Camera(21388)\", nonce=\"a1b2c3d4\", "
         "uri=\"rtsp://127.0.0.1:554/cam\", response=\"096a4aaaee94e3773bf909153e5e10ac\"",
         "", ""},
        {"digest qop auth", "Mufasa", "Circle Of Life", kQopChallenge, "0a4f113b", "GET", "/dir/index.html", 0,
         kQopValue, "", ""},
        {"only auth-int offered", "admin", "12345", "Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"", nullptr,
         "PLAY", "rtsp://h/s", 0, nullptr, "Digest ", "q"},
        {"digest no user", nullptr, nullptr, kRN, nullptr, "PLAY", "rtsp://h/s", JX_ERR_ARG, "", "", ""},
        {"digest no method", "admin", "pw", kRN, nullptr, "", "rtsp://h/s", JX_ERR_ARG, "", "", ""},
        {"digest no uri", "admin", "pw", kRN, nullptr, "PLAY", nullptr, JX_ERR_ARG, "", "", ""},
        // A quote is escaped and a line end left out: the value stays one header line.
        {"quote and line end in the user", "ad\"min\r\n", "pw", kRN, nullptr, "PLAY", "rtsp://h/s", 0, nullptr,
         "username=\"ad\\\"min\"", "\r\n"},
        // response = MD5(MD5("u:r:p") ":" "" ":" MD5("PLAY:rtsp://h/s"))
        {"digest without nonce", "u", "p", "Digest realm=\"r\"", nullptr, "PLAY", "rtsp://h/s", 0,
         "Digest username=\"u\", realm=\"r\", nonce=\"\", uri=\"rtsp://h/s\", "
         "response=\"f19bd6b35eee6f0cfb321817f8ea4d63\"",
         "", ""},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.m_Name);
        CRTSPAuthen authen;
        authen.SetUser(row.m_User, row.m_Password);
        if (row.m_Challenge != nullptr) {
            ASSERT_EQ(authen.ParseResponse(row.m_Challenge), 0);
            EXPECT_NE(authen.m_Scheme, CJXHTTPAuthen::kSchemeBasic);
        }
        if (row.m_CNonce != nullptr) authen.SetNextCNonce(row.m_CNonce);
        CJXString out;
        EXPECT_EQ(authen.BuildRequest(out, row.m_Method, row.m_Uri), row.m_Result);
        const std::string value = out.c_str();
        if (row.m_Value != nullptr) {
            EXPECT_EQ(value, row.m_Value);
        }
        EXPECT_NE(value.find(row.m_Has), std::string::npos) << value;
        EXPECT_EQ(value.find_first_of(row.m_Lacks), std::string::npos) << ShowText(value);
        if (row.m_CNonce == nullptr) continue;
        // The next answer counts on and makes a new client nonce.
        CJXString next;
        ASSERT_EQ(authen.BuildRequest(next, row.m_Method, row.m_Uri), 0);
        EXPECT_NE(std::string(next.c_str()).find("nc=00000002"), std::string::npos) << next.c_str();
        EXPECT_EQ(std::string(next.c_str()).find(row.m_CNonce), std::string::npos) << next.c_str();
    }
}
