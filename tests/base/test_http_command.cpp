// HTTP-style message reader and writer: heads as cameras send them, bodies in
// pieces, hostile input, and the text it builds.
#include "JXHTTPCommand.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// What a client does with its receive buffer: bytes arrive in the given pieces;
// after each arrival the head is read (all bytes from the message start), then
// the body is taken, and consumed bytes are dropped from the buffer.
struct SFeedResult {
    int32_t m_Error = 0;        // first negative result, 0 when none
    int32_t m_HeadLength = 0;   // head length reported
    std::string m_Left;         // bytes not consumed
};

// Each call sees an exact-size heap copy, so ASan flags any read past the end.
int32_t CallParse(CJXHTTPCommand& cmd, const std::string& buf, bool bContent, bool bRequest = false)
{
    const std::vector<char> copy(buf.begin(), buf.end());
    const int32_t n = int32_t(copy.size());
    if (bContent) return cmd.ParseContent(copy.data(), n, &cmd.m_Body);
    return bRequest ? cmd.ParseRequest(copy.data(), n) : cmd.ParseResponse(copy.data(), n);
}

SFeedResult Feed(CJXHTTPCommand& cmd, const std::vector<std::string>& pieces)
{
    SFeedResult r;
    for (const std::string& piece : pieces) {
        r.m_Left += piece;
        int32_t nRet = 0;
        if (r.m_HeadLength == 0) {
            nRet = CallParse(cmd, r.m_Left, false);
            r.m_HeadLength = nRet > 0 ? nRet : 0;
        }
        if (nRet >= 0 && r.m_HeadLength > 0) {
            r.m_Left.erase(0, size_t(nRet));
            nRet = CallParse(cmd, r.m_Left, true);
            r.m_Left.erase(0, size_t(nRet > 0 ? nRet : 0));
        }
        if (nRet < 0) {
            r.m_Error = nRet;
            break;
        }
    }
    return r;
}

const char* Str(const char* p)
{
    return p ? p : "(null)";
}

struct SGoodResponse {
    const char* m_Name;
    std::string m_Text;
    int32_t m_HeadLength;
    int32_t m_Status;
    const char* m_Reason;
    uint16_t m_CSeq;
    const char* m_Session;
    uint16_t m_Timeout;
    const char* m_ContentType;
    const char* m_Transport;
    const char* m_WWWAuthenticate;
    std::string m_Body;
};

const std::vector<SGoodResponse>& GoodResponses()
{
    static const std::vector<SGoodResponse> cases = {
        {"describe_crlf",
         "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\nContent-Length: 10\r\n\r\n0123456789", 79, 200,
         "OK", 2, nullptr, 0, "application/sdp", nullptr, nullptr, "0123456789"},
        {"lf_only", "RTSP/1.0 200 OK\nCSeq: 3\nSession: 12345678;timeout=60\n\n", 54, 200, "OK", 3, "12345678", 60,
         nullptr, nullptr, nullptr, ""},
        {"mixed_ends_and_case", "RTSP/1.0 200 OK\r\ncseq: 4\nSESSION:  abc ; TimeOut = 30 \r\n\n", 57, 200, "OK", 4,
         "abc", 30, nullptr, nullptr, nullptr, ""},
        {"no_reason", "RTSP/1.0 200\r\nCSeq: 5\r\n\r\n", 25, 200, nullptr, 5, nullptr, 0, nullptr, nullptr, nullptr,
         ""},
        {"no_reason_trailing_blank", "RTSP/1.0 200 \r\nCSeq: 6\r\n\r\n", 26, 200, nullptr, 6, nullptr, 0, nullptr,
         nullptr, nullptr, ""},
        {"http_status", "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nabc", 45, 404, "Not Found", 0, nullptr, 0,
         nullptr, nullptr, nullptr, "abc"},
        {"tabs_and_blanks", "RTSP/1.0 200 OK\r\nCSeq:\t7\t\r\nTransport :  RTP/AVP/TCP;interleaved=0-1 \t\r\n\r\n", 73,
         200, "OK", 7, nullptr, 0, nullptr, "RTP/AVP/TCP;interleaved=0-1", nullptr, ""},
        {"two_challenges_joined",
         "RTSP/1.0 401 Unauthorized\r\nCSeq: 8\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
         "www-authenticate: Digest realm=\"y\", nonce=\"z\"\r\n\r\n",
         120, 401, "Unauthorized", 8, nullptr, 0, nullptr, nullptr,
         "Basic realm=\"x\", Digest realm=\"y\", nonce=\"z\"", ""},
        {"timeout_capped", "RTSP/1.0 200 OK\r\nSession: s1;timeout=999999999999\r\n\r\n", 53, 200, "OK", 0, "s1", 65535,
         nullptr, nullptr, nullptr, ""},
        {"leading_empty_lines", "\r\n\r\nRTSP/1.0 200 OK\r\nCSeq: 9\r\n\r\n", 32, 200, "OK", 9, nullptr, 0, nullptr,
         nullptr, nullptr, ""},
        {"reason_with_blanks", "RTSP/1.0 454 Session Not Found\r\nCSeq: 10\r\n\r\n", 44, 454, "Session Not Found", 10,
         nullptr, 0, nullptr, nullptr, nullptr, ""},
        {"body_with_crlf_and_dollar",
         std::string("RTSP/1.0 200 OK\r\nContent-Length: 12\r\n\r\n$\x00\x01\r\n\r\nv=0\r\n", 51), 39, 200, "OK", 0,
         nullptr, 0, nullptr, nullptr, nullptr, std::string("$\x00\x01\r\n\r\nv=0\r\n", 12)},
        {"max_content_length_header", "RTSP/1.0 200 OK\r\nContent-Length: 0000\r\n\r\n", 41, 200, "OK", 0, nullptr, 0,
         nullptr, nullptr, nullptr, ""},
    };
    return cases;
}

void ExpectFields(const CJXHTTPCommand& cmd, const SGoodResponse& c)
{
    EXPECT_EQ(cmd.m_StatusCode, c.m_Status);
    EXPECT_STREQ(Str(cmd.m_Reason), Str(c.m_Reason));
    EXPECT_EQ(cmd.m_CSeq, c.m_CSeq);
    EXPECT_STREQ(Str(cmd.m_SessionID), Str(c.m_Session));
    EXPECT_EQ(cmd.m_SessionTimeout, c.m_Timeout);
    EXPECT_STREQ(Str(cmd.m_ContentType), Str(c.m_ContentType));
    EXPECT_STREQ(Str(cmd.m_Transport), Str(c.m_Transport));
    EXPECT_STREQ(Str(cmd.m_WWWAuthenticate), Str(c.m_WWWAuthenticate));
    EXPECT_EQ(cmd.m_ContentLength, int32_t(c.m_Body.size()));
    EXPECT_EQ(std::string(cmd.m_Body.c_str(), size_t(cmd.m_Body.m_Length)), c.m_Body);
    EXPECT_TRUE(cmd.IsCompleted());
}

// Two reads, split at every offset, and one byte at a time: the head is found
// once it is all there, never earlier, and the body is assembled byte-exact.
TEST(HTTPCommand, GoodResponsesAtEverySplitAndByteByByte)
{
    for (const SGoodResponse& c : GoodResponses()) {
        for (size_t cut = 0; cut <= c.m_Text.size(); ++cut) {
            SCOPED_TRACE(std::string(c.m_Name) + " cut " + std::to_string(cut));
            CJXHTTPCommand partial;
            EXPECT_EQ(Feed(partial, {c.m_Text.substr(0, cut)}).m_Error, 0);
            EXPECT_EQ(partial.IsCompleted(), cut == c.m_Text.size());
            EXPECT_EQ(partial.m_StatusCode != 0, cut >= size_t(c.m_HeadLength));
            CJXHTTPCommand cmd;
            SFeedResult r = Feed(cmd, {c.m_Text.substr(0, cut), c.m_Text.substr(cut)});
            EXPECT_EQ(r.m_Error, 0);
            EXPECT_EQ(r.m_HeadLength, c.m_HeadLength);
            EXPECT_EQ(r.m_Left, "");
            ExpectFields(cmd, c);
        }
        SCOPED_TRACE(std::string(c.m_Name) + " byte by byte");
        std::vector<std::string> pieces;
        for (char ch : c.m_Text)
            pieces.emplace_back(1, ch);
        CJXHTTPCommand cmd;
        SFeedResult r = Feed(cmd, pieces);
        EXPECT_EQ(r.m_Error, 0);
        EXPECT_EQ(r.m_HeadLength, c.m_HeadLength);
        ExpectFields(cmd, c);
    }
}

TEST(HTTPCommand, TwoResponsesInOneBufferConsumeOnlyTheFirst)
{
    const std::string first = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 4\r\n\r\nbody";
    const std::string second = "RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n";
    const std::string interleaved("$\x00\x00\x02hi", 6);
    CJXHTTPCommand cmd;
    SFeedResult r = Feed(cmd, {first + interleaved + second});
    EXPECT_EQ(r.m_Error, 0);
    EXPECT_TRUE(cmd.IsCompleted());
    EXPECT_EQ(cmd.m_CSeq, 1);
    EXPECT_EQ(r.m_Left, interleaved + second);
    EXPECT_EQ(cmd.ParseContent("more", 4, &cmd.m_Body), 0);   // nothing beyond the announced length
}

// A head is reported again until Reset; after it, nothing of the old message is
// left in the next one.
TEST(HTTPCommand, ResetLeavesNothingBehind)
{
    const std::string full =
        "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 77;timeout=5\r\nTransport: t\r\nContent-Type: c\r\n"
        "WWW-Authenticate: Basic realm=\"r\"\r\nConnection: close\r\nContent-Length: 2\r\n\r\nxy";
    const SGoodResponse bare = {
        "bare", "RTSP/1.0 401\r\n\r\n", 16, 401, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, ""};
    CJXHTTPCommand cmd;
    ASSERT_EQ(Feed(cmd, {full}).m_Error, 0);
    EXPECT_TRUE(cmd.m_Close);
    EXPECT_EQ(cmd.ParseResponse(full.data(), int32_t(full.size())), int32_t(full.size()) - 2);
    EXPECT_EQ(cmd.Reset(), 0);
    EXPECT_FALSE(cmd.IsCompleted());
    SFeedResult r = Feed(cmd, {bare.m_Text});
    EXPECT_EQ(r.m_Error, 0);
    ExpectFields(cmd, bare);
    EXPECT_FALSE(cmd.m_Close);
    cmd.Reset();
    ASSERT_EQ(Feed(cmd, {full}).m_Error, 0);
    EXPECT_STREQ(cmd.m_Body.c_str(), "xy");
}

struct SBadResponse {
    const char* m_Name;
    std::string m_Text;
    int32_t m_Error;
};

std::string Repeat(char c, size_t n)
{
    return std::string(n, c);
}

TEST(HTTPCommand, MalformedHeadsAreRefused)
{
    const std::vector<SBadResponse> cases = {
        {"length_too_big", "RTSP/1.0 200 OK\r\nContent-Length: 262145\r\n\r\n", JX_ERR_CONTENT},
        {"length_huge", "RTSP/1.0 200 OK\r\nContent-Length: 4294967296\r\n\r\n", JX_ERR_CONTENT},
        {"length_overflowing", "RTSP/1.0 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n", JX_ERR_CONTENT},
        {"length_negative", "RTSP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", JX_ERR_CONTENT},
        {"length_plus", "RTSP/1.0 200 OK\r\nContent-Length: +5\r\n\r\n", JX_ERR_CONTENT},
        {"length_text", "RTSP/1.0 200 OK\r\nContent-Length: abc\r\n\r\n", JX_ERR_CONTENT},
        {"length_hex", "RTSP/1.0 200 OK\r\nContent-Length: 0x10\r\n\r\n", JX_ERR_CONTENT},
        {"length_two_numbers", "RTSP/1.0 200 OK\r\nContent-Length: 5 5\r\n\r\n", JX_ERR_CONTENT},
        {"length_empty", "RTSP/1.0 200 OK\r\nContent-Length:\r\n\r\n", JX_ERR_CONTENT},
        {"length_conflicting", "RTSP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", JX_ERR_CONTENT},
        {"status_two_digits", "RTSP/1.0 20 OK\r\n\r\n", JX_ERR_CONTENT},
        {"status_four_digits", "RTSP/1.0 2000 OK\r\n\r\n", JX_ERR_CONTENT},
        {"status_below_100", "RTSP/1.0 099 Odd\r\n\r\n", JX_ERR_CONTENT},
        {"status_letters", "RTSP/1.0 abc\r\n\r\n", JX_ERR_CONTENT},
        {"status_glued_reason", "RTSP/1.0 200OK\r\n\r\n", JX_ERR_CONTENT},
        {"status_missing", "RTSP/1.0\r\n\r\n", JX_ERR_CONTENT},
        {"status_missing_blank", "RTSP/1.0200 OK\r\n\r\n", JX_ERR_CONTENT},
        {"version_missing", "RTSP/ 200 OK\r\n\r\n", JX_ERR_CONTENT},
        {"version_no_minor", "RTSP/1 200 OK\r\n\r\n", JX_ERR_CONTENT},
        {"lower_case_protocol", "rtsp/1.0 200 OK\r\n\r\n", JX_ERR_CONTENT},
        {"other_protocol", "SIP/2.0 200 OK\r\n\r\n", JX_ERR_CONTENT},
        {"binary_garbage", std::string("\x24\x00\x10\x00garbage\r\n\r\n", 15), JX_ERR_CONTENT},
        {"request_not_response", "OPTIONS * RTSP/1.0\r\n\r\n", JX_ERR_CONTENT},
        {"nul_in_header", std::string("RTSP/1.0 200 OK\r\nCSeq: 1\0\r\n\r\n", 29), JX_ERR_CONTENT},
        {"nul_in_status", std::string("RTSP/1.0 200 O\0K\r\n\r\n", 20), JX_ERR_CONTENT},
        {"unknown_transfer_coding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", JX_ERR_UNSUPPORTED},
    };
    for (const SBadResponse& c : cases) {
        SCOPED_TRACE(c.m_Name);
        CJXHTTPCommand cmd;
        EXPECT_EQ(CallParse(cmd, c.m_Text, false), c.m_Error);
        EXPECT_EQ(cmd.m_StatusCode, 0);
        EXPECT_FALSE(cmd.IsCompleted());
        // No prefix is ever taken for a head.
        for (size_t cut = 0; cut < c.m_Text.size(); ++cut) {
            CJXHTTPCommand part;
            EXPECT_LE(CallParse(part, c.m_Text.substr(0, cut), false), 0) << cut;
        }
    }
}

// The bounds on lines, line count and head size, each just inside and just
// past; a bad status line is refused as soon as its first bytes show it, not
// after a blank line that may never come. A result of 1 stands for "the whole text".
TEST(HTTPCommand, BoundsAndEarlyRefusal)
{
    const std::string status = "RTSP/1.0 200 OK\r\n";
    const std::string key = "X-Long: ";
    const std::string atLimit = key + Repeat('a', size_t(CJXHTTPCommand::kMaxLineBytes) - key.size());
    std::string lines;
    for (int32_t i = 0; i < CJXHTTPCommand::kMaxHeadLines; ++i)
        lines += "X-N: " + std::to_string(i) + "\r\n";
    std::string longLines = status;   // few lines, each long, no blank line
    while (longLines.size() < size_t(CJXHTTPCommand::kMaxHeadBytes))
        longLines += "X-Pad: " + Repeat('p', 8000) + "\r\n";
    const int32_t kWhole = 1;
    const struct {
        const char* name;
        std::string text;
        int32_t result;
    } rows[] = {
        {"longest line", status + atLimit + "\r\n\r\n", kWhole},
        {"line too long, unterminated", status + atLimit + "aa", JX_ERR_CONTENT},
        {"line too long", status + atLimit + "a\r\n\r\n", JX_ERR_CONTENT},
        {"status line too long", "RTSP/1.0 200 " + Repeat('r', size_t(CJXHTTPCommand::kMaxLineBytes)), JX_ERR_CONTENT},
        {"most header lines", status + lines + "\r\n", kWhole},
        {"one header line more", status + lines + "X-N: one more\r\n", JX_ERR_CONTENT},
        {"head too long", longLines, JX_ERR_CONTENT},
        {"endless empty lines", Repeat('\n', size_t(CJXHTTPCommand::kMaxHeadBytes)), JX_ERR_CONTENT},
        {"X", "X", JX_ERR_CONTENT},
        {"RTSX", "RTSX", JX_ERR_CONTENT},
        {"GET request", "GET / HTTP/1.1", JX_ERR_CONTENT},
        {"bad status, line not whole yet", "HTTP/1.1 2x", 0},
        {"bad status, line whole", "HTTP/1.1 2x\r\n", JX_ERR_CONTENT},
        {"good status, bad bytes after it", "RTSP/1.0 200 OK\r\n\x01\x02", 0},
        {"empty", "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CJXHTTPCommand cmd;
        EXPECT_EQ(CallParse(cmd, row.text, false), row.result == kWhole ? int32_t(row.text.size()) : row.result);
    }
    CJXHTTPCommand cmd;
    EXPECT_EQ(cmd.ParseResponse(nullptr, 0), 0);
    EXPECT_EQ(cmd.ParseResponse("RTSP", -5), 0);
    EXPECT_EQ(cmd.ParseResponse(nullptr, 10), JX_ERR_ARG);
    EXPECT_EQ(cmd.ParseContent("x", 1, nullptr), 0);   // no head yet: nothing is body
    EXPECT_EQ(cmd.RecvResponse(nullptr, 0, nullptr), 0);
}

TEST(HTTPCommand, LargestContentLengthIsAccepted)
{
    const std::string head = "RTSP/1.0 200 OK\r\nContent-Length: 262144\r\n\r\n";
    std::string text = head + std::string(size_t(CJXHTTPCommand::kMaxContent), 'b');
    CJXHTTPCommand cmd;
    SFeedResult r = Feed(cmd, {text.substr(0, 1000), text.substr(1000, 100000), text.substr(101000)});
    EXPECT_EQ(r.m_Error, 0);
    EXPECT_TRUE(cmd.IsCompleted());
    EXPECT_EQ(cmd.m_Body.m_Length, CJXHTTPCommand::kMaxContent);
}

// A head just under the limit, fed one byte more at each call (the search
// resumes between calls): found exactly when its last byte arrives. A caller
// that passes other, shorter bytes than before must not get a stale result.
TEST(HTTPCommand, SearchResumesAndRestarts)
{
    std::string text = "RTSP/1.0 200 OK\r\n";
    std::string line = "X-Pad: " + Repeat('p', 300) + "\r\n";   // about 210 lines
    while (text.size() + line.size() + 2 < size_t(CJXHTTPCommand::kMaxHeadBytes))
        text += line;
    text += "\r\n";
    CJXHTTPCommand cmd;
    int32_t nRet = 0;
    size_t n = 0;
    while (nRet == 0 && n < text.size())
        nRet = cmd.ParseResponse(text.data(), int32_t(++n));
    EXPECT_EQ(n, text.size());
    EXPECT_EQ(nRet, int32_t(text.size()));

    CJXHTTPCommand again;
    const std::string a = "RTSP/1.0 200 OK\r\nCSeq: 1\r\n";
    EXPECT_EQ(again.ParseResponse(a.data(), int32_t(a.size())), 0);
    const std::string b = "RTSP/1.0 200 OK\n\n";
    EXPECT_EQ(again.ParseResponse(b.data(), int32_t(b.size())), int32_t(b.size()));
}

TEST(HTTPCommand, ParseLineMatchesKeysAndCutsValues)
{
    const struct {
        const char* m_Line;
        const char* m_Key;
        bool m_Match;
        const char* m_Value;
    } cases[] = {
        {"Transport: RTP/AVP", "Transport: ", true, "RTP/AVP"},
        {"transport:RTP/AVP", "Transport: ", true, "RTP/AVP"},
        {"TRANSPORT: \t x y \t\r", "Transport: ", true, "x y"},
        {"Transport :x", "Transport: ", true, "x"},
        {"Transport:", "Transport: ", true, ""},
        {"Transport:   \r", "Transport: ", true, ""},
        {"RTP-Info: url=rtsp://h/t;seq=1", "RTP-info: ", true, "url=rtsp://h/t;seq=1"},
        {"Transports: x", "Transport: ", false, nullptr},
        {"Transport x", "Transport: ", false, nullptr},
        {"Trans", "Transport: ", false, nullptr},
        {"", "Transport: ", false, nullptr},
        {"X-Transport: x", "Transport: ", false, nullptr},
        {"Transport: a: b", "Transport", true, "a: b"},
        {nullptr, "Key:", false, nullptr},
        {"Key: v", nullptr, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Str(c.m_Line));
        char* pField = CJXString::Clone("old");
        EXPECT_EQ(CJXHTTPCommand::ParseLine(pField, c.m_Line, c.m_Key), c.m_Match);
        EXPECT_STREQ(pField, c.m_Match ? c.m_Value : "old");
        free(pField);
    }
    char* pField = nullptr;
    EXPECT_TRUE(CJXHTTPCommand::ParseLine(pField, "Key: v", "key:"));
    EXPECT_STREQ(pField, "v");
    free(pField);
}

TEST(HTTPCommand, SessionAndCSeqValues)
{
    const struct {
        const char* m_Line;
        const char* m_Id;
        uint16_t m_Timeout;
        uint16_t m_CSeq;
    } cases[] = {
        {"Session: 12345678;timeout=60", "12345678", 60, 0},
        {"Session: 12345678", "12345678", 0, 0},
        {"session:ABCDEF ; timeout = 75 ", "ABCDEF", 75, 0},
        {"Session: id;other=1;timeout=30", "id", 30, 0},
        {"Session: id;timeout=", "id", 0, 0},
        {"Session: id;timeout=abc", "id", 0, 0},
        {"Session: id;timeout=12abc", "id", 0, 0},
        {"Session: id;timeout=70000", "id", 65535, 0},
        {"Session: id;timeouts=5", "id", 0, 0},
        {"Session: id;TIMEOUT=5", "id", 5, 0},
        {"Session: ;timeout=5", nullptr, 5, 0},
        {"Session:", nullptr, 0, 0},
        {"CSeq: 7", nullptr, 0, 7},
        {"cseq:65535", nullptr, 0, 65535},
        {"CSeq: 65536", nullptr, 0, 0},
        {"CSeq: 65537", nullptr, 0, 1},
        {"CSeq: abc", nullptr, 0, 0},
        {"CSeq: 99999999999", nullptr, 0, 0},
        {"CSeq: -3", nullptr, 0, 0},
        {"CSeq:", nullptr, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_Line);
        CJXHTTPCommand cmd;
        EXPECT_EQ(cmd.ParseHeadLine(c.m_Line), 1);
        EXPECT_STREQ(Str(cmd.m_SessionID), Str(c.m_Id));
        EXPECT_EQ(cmd.m_SessionTimeout, c.m_Timeout);
        EXPECT_EQ(cmd.m_CSeq, c.m_CSeq);
    }
}

// What a derived reader sees: its own ParseHeadLine first, unknown lines in ParseOther.
class CRecordingCommand : public CJXHTTPCommand {
public:
    ~CRecordingCommand() override { free(m_RtpInfo); }
    int32_t ParseHeadLine(const char* pLine) override
    {
        if (ParseLine(m_RtpInfo, pLine, "RTP-info: ")) return 1;
        return CJXHTTPCommand::ParseHeadLine(pLine);
    }
    int32_t ParseOther(const char* pLine) override
    {
        m_Other.emplace_back(pLine);
        return 1;
    }
    char* m_RtpInfo = nullptr;
    std::vector<std::string> m_Other;
};

TEST(HTTPCommand, DerivedReaderGetsEveryLineWithoutLineEnd)
{
    const std::string text =
        "RTSP/1.0 200 OK\r\nCSeq: 5\r\nRTP-Info: url=rtsp://h/v;seq=1\r\nServer: cam\r\nSet-Cookie: a=b\r\n"
        "Date: x\n\r\n";
    CRecordingCommand cmd;
    EXPECT_EQ(cmd.ParseResponse(text.data(), int32_t(text.size())), int32_t(text.size()));
    EXPECT_STREQ(cmd.m_RtpInfo, "url=rtsp://h/v;seq=1");
    EXPECT_EQ(cmd.m_CSeq, 5);
    EXPECT_EQ(cmd.m_Other, (std::vector<std::string>{"Server: cam", "Date: x"}));
}

TEST(HTTPCommand, RequestsAreReadForTestServers)
{
    const std::string setup = "SETUP rtsp://127.0.0.1:8554/cam/trackID=1 RTSP/1.0\r\nCSeq: 3\r\n"
                              "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\nContent-Length: 4\r\n\r\nbody";
    const std::string play = "PLAY rtsp://127.0.0.1/cam RTSP/1.0\nCSeq: 4\nSession: 99\n\n";
    std::string stream = setup + play;
    CJXHTTPCommand cmd;
    // Split everywhere: consume what is taken, keep the rest, as a server does.
    for (size_t cut = 0; cut <= setup.size(); ++cut) {
        SCOPED_TRACE(cut);
        cmd.Reset();
        std::string buf = stream.substr(0, cut);
        int32_t nRet = cmd.RecvRequest(buf.data(), int32_t(buf.size()), &cmd.m_Body);
        ASSERT_GE(nRet, 0);
        buf.erase(0, size_t(nRet));
        buf += stream.substr(cut);
        nRet = cmd.RecvRequest(buf.data(), int32_t(buf.size()), &cmd.m_Body);
        ASSERT_GE(nRet, 0);
        buf.erase(0, size_t(nRet));
        ASSERT_TRUE(cmd.IsCompleted());
        EXPECT_STREQ(cmd.m_Method, "SETUP");
        EXPECT_STREQ(cmd.m_Uri, "rtsp://127.0.0.1:8554/cam/trackID=1");
        EXPECT_EQ(cmd.m_CSeq, 3);
        EXPECT_STREQ(cmd.m_Transport, "RTP/AVP/TCP;unicast;interleaved=0-1");
        EXPECT_STREQ(cmd.m_Body.c_str(), "body");
        EXPECT_EQ(buf, play);
    }
    cmd.Reset();
    EXPECT_EQ(cmd.RecvRequest(play.data(), int32_t(play.size()), nullptr), int32_t(play.size()));
    EXPECT_STREQ(cmd.m_Method, "PLAY");
    EXPECT_STREQ(cmd.m_SessionID, "99");
    EXPECT_EQ(cmd.m_StatusCode, 0);
    EXPECT_TRUE(cmd.IsCompleted());

    const std::vector<std::string> bad = {
        "DESCRIBE\r\n\r\n",
        "DESCRIBE rtsp://x\r\n\r\n",
        "DESCRIBE rtsp://x RTSP/1.0 extra\r\n\r\n",
        "DESCRIBE  RTSP/1.0\r\n\r\n",
        "RTSP/1.0 200 OK\r\n\r\n",
        " DESCRIBE rtsp://x RTSP/1.0\r\n\r\n",
        "DESCRIBE rtsp://x SIP/2.0\r\n\r\n",
        "DE\"SCRIBE rtsp://x RTSP/1.0\r\n\r\n",
    };
    for (const std::string& b : bad) {
        CJXHTTPCommand refused;
        EXPECT_EQ(CallParse(refused, b, false, true), JX_ERR_CONTENT) << b;
    }
}

TEST(HTTPCommand, BuiltMessagesAreByteExact)
{
    CJXHTTPCommand out;
    out.m_Method = CJXString::Clone("ANNOUNCE");
    out.m_Uri = CJXString::Clone("rtsp://h/x");
    out.m_SessionID = CJXString::Clone("42");
    out.m_SessionTimeout = 60;
    out.m_ContentType = CJXString::Clone("application/sdp");
    CJXString head;
    CJXString body("v=0\r\n");
    ASSERT_EQ(out.BuildRequest(&head, &body), 0);
    EXPECT_STREQ(head.c_str(),
                 "ANNOUNCE rtsp://h/x RTSP/1.0\r\nSession: 42;timeout=60\r\nContent-Type: application/sdp\r\n"
                 "Content-Length: 5\r\n\r\nv=0\r\n");
    CJXHTTPCommand in;
    EXPECT_EQ(in.RecvRequest(head.m_Data, head.m_Length, nullptr), head.m_Length);
    EXPECT_TRUE(in.IsCompleted());
    EXPECT_STREQ(in.m_SessionID, "42");
    EXPECT_EQ(in.m_SessionTimeout, 60);
    EXPECT_STREQ(in.m_Body.c_str(), "v=0\r\n");
    // A URI that would smuggle header lines is refused.
    free(out.m_Uri);
    out.m_Uri = CJXString::Clone("rtsp://h/x RTSP/1.0\r\nX-Evil: 1");
    CJXString bad;
    EXPECT_EQ(out.BuildRequest(&bad, nullptr), JX_ERR_ARG);
    EXPECT_EQ(out.BuildRequest(nullptr, nullptr), JX_ERR_ARG);

    CJXHTTPCommand reply;
    reply.m_StatusCode = 401;
    reply.m_WWWAuthenticate = CJXString::Clone("Digest realm=\"r\", nonce=\"n\"");
    CJXString text;
    ASSERT_EQ(reply.BuildResponse(&text, nullptr), 0);
    ASSERT_EQ(CJXHTTPCommand::BuildLine(text, "CSeq: ", 9), 9);   // "CSeq: 9\r\n" behind the blank line
    EXPECT_STREQ(text.c_str(),
                 "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n\r\nCSeq: 9\r\n");
    reply.m_StatusCode = 99;
    EXPECT_EQ(reply.BuildResponse(&text, nullptr), JX_ERR_ARG);

    CJXString raw;
    EXPECT_EQ(reply.BuildContent(raw, "ab\0c", 4), 4);
    EXPECT_EQ(std::string(raw.m_Data, size_t(raw.m_Length)), std::string("ab\0c", 4));
    EXPECT_EQ(reply.BuildContent(raw, nullptr, 3), JX_ERR_ARG);
    EXPECT_EQ(reply.BuildContent(raw, "x", 0), 0);
}

TEST(HTTPCommand, ChunkedBodyRoundTripAtEverySplit)
{
    CJXHTTPCommand builder;
    CJXString chunks;
    EXPECT_EQ(builder.BuildChunked(chunks, "hello", 5), 10);
    EXPECT_GT(builder.BuildChunked(chunks, " chunked world", 14), 0);
    EXPECT_EQ(builder.BuildChunked(chunks, nullptr, 0), 5);
    EXPECT_STREQ(chunks.c_str(), "5\r\nhello\r\ne\r\n chunked world\r\n0\r\n\r\n");

    const std::string text =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(chunks.c_str()) + "RTSP/1.0 200 OK\r\n";
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        CJXHTTPCommand cmd;
        SFeedResult r = Feed(cmd, {text.substr(0, cut), text.substr(cut)});
        ASSERT_EQ(r.m_Error, 0) << cut;
        EXPECT_TRUE(cmd.IsCompleted()) << cut;
        EXPECT_STREQ(cmd.m_Body.c_str(), "hello chunked world") << cut;
        EXPECT_EQ(r.m_Left, "RTSP/1.0 200 OK\r\n") << cut;
    }
}

TEST(HTTPCommand, ChunkedExtensionsTrailersAndErrors)
{
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n";
    const struct {
        const char* name;
        std::string body;
        int32_t error;
    } rows[] = {
        {"extension and trailer", "3;name=v\nabc\n0\nX-Trailer: 1\n\n", 0},
        {"not a size", "zz\r\n", JX_ERR_CONTENT},
        {"more than the body may hold", "40001\r\n", JX_ERR_CONTENT},
        {"size that would overflow", "FFFFFFFFFFFFFFFF\r\n", JX_ERR_CONTENT},
        {"data longer than announced", "3\r\nabcX\r\n", JX_ERR_CONTENT},
        {"junk behind the size", "3 x\r\nabc\r\n", JX_ERR_CONTENT},
        {"no line end behind the data", "5\r\n" + Repeat('a', 2000), JX_ERR_CONTENT},
        {"size line without end", Repeat('1', 2000), JX_ERR_CONTENT},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CJXHTTPCommand cmd;
        SFeedResult r = Feed(cmd, {head, row.body});
        EXPECT_EQ(r.m_Error, row.error);
        EXPECT_EQ(cmd.IsCompleted(), row.error == 0);
        if (row.error == 0) {
            EXPECT_STREQ(cmd.m_Body.c_str(), "abc");
        }
    }
}

TEST(HTTPCommand, RecvResponseTakesHeadAndBodyInPieces)
{
    const std::string text = "RTSP/1.0 200 OK\r\nContent-Length: 6\r\n\r\nabcdefRTSP";
    CJXHTTPCommand cmd;
    CJXString body;
    EXPECT_EQ(cmd.RecvResponse(text.data(), 20, &body), 0);
    EXPECT_EQ(cmd.RecvResponse(text.data(), 40, &body), 40);
    EXPECT_FALSE(cmd.IsCompleted());
    EXPECT_EQ(cmd.RecvResponse(text.data() + 40, int32_t(text.size()) - 40, &body), 4);
    EXPECT_TRUE(cmd.IsCompleted());
    EXPECT_STREQ(body.c_str(), "abcdef");
    EXPECT_EQ(cmd.m_Body.m_Length, 0);   // the caller's body, not the member
}

}   // namespace
