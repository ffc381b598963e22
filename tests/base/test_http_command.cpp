// HTTP-style message reader and writer: camera heads, bodies in pieces, hostile input, built text.
#include "JXHTTPCommand.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Each call sees an exact-size heap copy, so ASan flags any read past the end.
int32_t CallParse(CJXHTTPCommand& cmd, const std::string& buf, bool bContent, bool bRequest = false)
{
    const std::vector<char> copy(buf.begin(), buf.end());
    const int32_t n = int32_t(copy.size());
    if (bContent) return cmd.ParseContent(copy.data(), n, &cmd.m_Body);
    return bRequest ? cmd.ParseRequest(copy.data(), n) : cmd.ParseResponse(copy.data(), n);
}

// A client's receive buffer: pieces arrive one by one, head then body taken, consumed bytes dropped.
struct SFeedResult {
    int32_t m_Error = 0;   // first negative result
    int32_t m_HeadLength = 0;
    std::string m_Left;   // bytes not consumed
};

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

// The message read, as one line: status, then each value present in brackets.
std::string Describe(const CJXHTTPCommand& c)
{
    std::string out = std::to_string(c.m_StatusCode);
    const std::pair<const char*, const char*> texts[] = {{"reason", c.m_Reason},
                                                         {"session", c.m_SessionID},
                                                         {"type", c.m_ContentType},
                                                         {"transport", c.m_Transport},
                                                         {"auth", c.m_WWWAuthenticate}};
    for (const auto& t : texts) {
        if (t.second != nullptr) out += std::string(" ") + t.first + "[" + t.second + "]";
    }
    if (c.m_CSeq != 0) out += " cseq[" + std::to_string(c.m_CSeq) + "]";
    if (c.m_SessionTimeout != 0) out += " timeout[" + std::to_string(c.m_SessionTimeout) + "]";
    if (c.m_ContentLength != 0) out += " body[" + std::string(c.m_Body.c_str(), size_t(c.m_Body.m_Length)) + "]";
    return c.IsCompleted() ? out : out + " incomplete";
}

// Split at every offset and byte by byte: the head found once whole, never earlier; the body exact.
TEST(HTTPCommand, GoodResponsesAtEverySplitAndByteByByte)
{
    const struct {
        std::string m_Text;
        int32_t m_HeadLength;
        std::string m_Expect;
    } rows[] = {
        {"RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\nContent-Length: 10\r\n\r\n0123456789", 79,
         "200 reason[OK] type[application/sdp] cseq[2] body[0123456789]"},
        {"RTSP/1.0 200 OK\nCSeq: 3\nSession: 12345678;timeout=60\n\n", 54,
         "200 reason[OK] session[12345678] cseq[3] timeout[60]"},
        {"RTSP/1.0 200 OK\r\ncseq: 4\nSESSION:  abc ; TimeOut = 30 \r\n\n", 57,
         "200 reason[OK] session[abc] cseq[4] timeout[30]"},
        {"RTSP/1.0 200\r\nCSeq: 5\r\n\r\n", 25, "200 cseq[5]"},
        {"RTSP/1.0 200 \r\nCSeq: 6\r\n\r\n", 26, "200 cseq[6]"},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nabc", 45, "404 reason[Not Found] body[abc]"},
        {"RTSP/1.0 200 OK\r\nCSeq:\t7\t\r\nTransport :  RTP/AVP/TCP;interleaved=0-1 \t\r\n\r\n", 73,
         "200 reason[OK] transport[RTP/AVP/TCP;interleaved=0-1] cseq[7]"},
        {"RTSP/1.0 401 Unauthorized\r\nCSeq: 8\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
         "www-authenticate: Digest realm=\"y\", nonce=\"z\"\r\n\r\n",
         120, "401 reason[Unauthorized] auth[Basic realm=\"x\", Digest realm=\"y\", nonce=\"z\"] cseq[8]"},
        {"RTSP/1.0 200 OK\r\nSession: s1;timeout=999999999999\r\n\r\n", 53,
         "200 reason[OK] session[s1] timeout[65535]"},
        {"\r\n\r\nRTSP/1.0 200 OK\r\nCSeq: 9\r\n\r\n", 32, "200 reason[OK] cseq[9]"},
        {"RTSP/1.0 454 Session Not Found\r\nCSeq: 10\r\n\r\n", 44, "454 reason[Session Not Found] cseq[10]"},
        {std::string("RTSP/1.0 200 OK\r\nContent-Length: 12\r\n\r\n$\x00\x01\r\n\r\nv=0\r\n", 51), 39,
         "200 reason[OK] body[" + std::string("$\x00\x01\r\n\r\nv=0\r\n", 12) + "]"},
        {"RTSP/1.0 200 OK\r\nContent-Length: 0000\r\n\r\n", 41, "200 reason[OK]"},
    };
    for (const auto& c : rows) {
        const std::string& t = c.m_Text;
        for (size_t cut = 0; cut <= t.size(); ++cut) {
            SCOPED_TRACE(t.substr(0, 20) + " cut " + std::to_string(cut));
            CJXHTTPCommand partial;
            EXPECT_EQ(Feed(partial, {t.substr(0, cut)}).m_Error, 0);
            EXPECT_EQ(partial.IsCompleted(), cut == t.size());
            EXPECT_EQ(partial.m_StatusCode != 0, cut >= size_t(c.m_HeadLength));
            CJXHTTPCommand cmd;
            SFeedResult r = Feed(cmd, {t.substr(0, cut), t.substr(cut)});
            EXPECT_EQ(r.m_Error, 0);
            EXPECT_EQ(r.m_HeadLength, c.m_HeadLength);
            EXPECT_EQ(r.m_Left, "");
            EXPECT_EQ(Describe(cmd), c.m_Expect);
        }
        std::vector<std::string> pieces;
        for (char ch : t)
            pieces.emplace_back(1, ch);
        CJXHTTPCommand cmd;
        SFeedResult r = Feed(cmd, pieces);
        EXPECT_EQ(r.m_HeadLength, c.m_HeadLength);
        EXPECT_EQ(Describe(cmd), c.m_Expect) << "byte by byte";
    }
}

// Only the first message is consumed; Reset leaves nothing of it in the next one.
TEST(HTTPCommand, OneMessageAtATimeAndResetLeavesNothing)
{
    const std::string first =
        "RTSP/1.0 200 OK\r\nCSeq: 1\r\nSession: 77;timeout=5\r\nTransport: t\r\nContent-Type: c\r\n"
        "WWW-Authenticate: B\r\nConnection: close\r\nContent-Length: 4\r\n\r\nbody";
    const std::string rest = std::string("$\x00\x00\x02hi", 6) + "RTSP/1.0 401\r\n\r\n";
    CJXHTTPCommand cmd;
    SFeedResult r = Feed(cmd, {first + rest});
    EXPECT_EQ(r.m_Error, 0);
    EXPECT_EQ(r.m_Left, rest);
    EXPECT_TRUE(cmd.m_Close);
    EXPECT_EQ(cmd.ParseContent("more", 4, &cmd.m_Body), 0);   // nothing beyond the announced length
    EXPECT_EQ(cmd.ParseResponse(first.data(), int32_t(first.size())), int32_t(first.size()) - 4);
    EXPECT_EQ(cmd.Reset(), 0);
    EXPECT_EQ(Describe(cmd), "0 incomplete");
    ASSERT_EQ(Feed(cmd, {r.m_Left.substr(6)}).m_Error, 0);
    EXPECT_EQ(Describe(cmd), "401");
    EXPECT_FALSE(cmd.m_Close);
}

// Refused heads and the size bounds just inside and past (kWhole: all of it is the head); no
// prefix of a refused text is taken as a head.
TEST(HTTPCommand, MalformedHeadsAndBounds)
{
    const int32_t kWhole = 1;
    const int32_t kBad = JX_ERR_CONTENT;
    const std::string ok = "RTSP/1.0 200 OK\r\n";
    const std::string key = "X-Long: ";
    const std::string atLimit = key + std::string(size_t(CJXHTTPCommand::kMaxLineBytes) - key.size(), 'a');
    std::string lines;
    for (int32_t i = 0; i < CJXHTTPCommand::kMaxHeadLines; ++i)
        lines += "X-N: " + std::to_string(i) + "\r\n";
    std::string longLines = ok;   // few lines, each long, no blank line
    while (longLines.size() < size_t(CJXHTTPCommand::kMaxHeadBytes))
        longLines += "X-Pad: " + std::string(8000, 'p') + "\r\n";
    const struct {
        std::string m_Text;
        int32_t m_Result;
    } rows[] = {
        {ok + "Content-Length: 262144\r\n\r\n", kWhole},
        {ok + "Content-Length: 262145\r\n\r\n", kBad},
        {ok + "Content-Length: 4294967296\r\n\r\n", kBad},
        {ok + "Content-Length: 99999999999999999999999\r\n\r\n", kBad},
        {ok + "Content-Length: -1\r\n\r\n", kBad},
        {ok + "Content-Length: +5\r\n\r\n", kBad},
        {ok + "Content-Length: 0x10\r\n\r\n", kBad},
        {ok + "Content-Length: abc\r\n\r\n", kBad},
        {ok + "Content-Length: 5 5\r\n\r\n", kBad},
        {ok + "Content-Length:\r\n\r\n", kBad},
        {ok + "Content-Length: 5\r\nContent-Length: 6\r\n\r\n", kBad},
        {"RTSP/1.0 20 OK\r\n\r\n", kBad},
        {"RTSP/1.0 2000 OK\r\n\r\n", kBad},
        {"RTSP/1.0 099 Odd\r\n\r\n", kBad},
        {"RTSP/1.0 100 Go\r\n\r\n", kWhole},
        {"RTSP/1.0 999\r\n\r\n", kWhole},
        {"RTSP/1.0 abc\r\n\r\n", kBad},
        {"RTSP/1.0 200OK\r\n\r\n", kBad},
        {"RTSP/1.0\r\n\r\n", kBad},
        {"RTSP/1.0200 OK\r\n\r\n", kBad},
        {"RTSP/ 200 OK\r\n\r\n", kBad},
        {"RTSP/1 200 OK\r\n\r\n", kBad},
        {"rtsp/1.0 200 OK\r\n\r\n", kBad},
        {"SIP/2.0 200 OK\r\n\r\n", kBad},
        {std::string("\x24\x00\x10\x00garbage\r\n\r\n", 15), kBad},
        {"OPTIONS * RTSP/1.0\r\n\r\n", kBad},
        {std::string("RTSP/1.0 200 OK\r\nCSeq: 1\0\r\n\r\n", 29), kBad},
        {std::string("RTSP/1.0 200 O\0K\r\n\r\n", 20), kBad},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n", JX_ERR_UNSUPPORTED},
        {ok + atLimit + "\r\n\r\n", kWhole},
        {ok + atLimit + "aa", kBad},
        {ok + atLimit + "a\r\n\r\n", kBad},
        {"RTSP/1.0 200 " + std::string(size_t(CJXHTTPCommand::kMaxLineBytes), 'r'), kBad},
        {ok + lines + "\r\n", kWhole},
        {ok + lines + "X-N: one more\r\n", kBad},
        {longLines, kBad},
        {std::string(size_t(CJXHTTPCommand::kMaxHeadBytes), '\n'), kBad},
        {"X", kBad},
        {"RTSX", kBad},
        {"GET / HTTP/1.1", kBad},
        {"HTTP/1.1 2x", 0},   // the line is not whole yet
        {"HTTP/1.1 2x\r\n", kBad},
        {ok + "\x01\x02", 0},
        {"", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.m_Text.substr(0, 60));
        CJXHTTPCommand cmd;
        const int32_t nWant = row.m_Result == kWhole ? int32_t(row.m_Text.size()) : row.m_Result;
        EXPECT_EQ(CallParse(cmd, row.m_Text, false), nWant);
        if (nWant >= 0) continue;
        EXPECT_EQ(cmd.m_StatusCode, 0);
        for (size_t cut = 0; cut < row.m_Text.size() && row.m_Text.size() < 100; ++cut) {
            CJXHTTPCommand part;
            EXPECT_LE(CallParse(part, row.m_Text.substr(0, cut), false), 0) << cut;
        }
    }
    CJXHTTPCommand cmd;
    EXPECT_EQ(cmd.ParseResponse("RTSP", -5), 0);
    EXPECT_EQ(cmd.ParseResponse(nullptr, 10), JX_ERR_ARG);
    EXPECT_EQ(cmd.ParseContent("x", 1, nullptr), 0);   // no head yet: nothing is body
    const std::string largest = ok + "Content-Length: 262144\r\n\r\n" + std::string(262144, 'b');
    SFeedResult r = Feed(cmd, {largest.substr(0, 1000), largest.substr(1000, 100000), largest.substr(101000)});
    EXPECT_EQ(r.m_Error, 0);
    EXPECT_EQ(cmd.m_Body.m_Length, CJXHTTPCommand::kMaxContent);
}

// A head just under the limit, one byte more a call: found with its last byte; shorter bytes restart.
TEST(HTTPCommand, SearchResumesAndRestarts)
{
    std::string text = "RTSP/1.0 200 OK\r\n";
    const std::string line = "X-Pad: " + std::string(300, 'p') + "\r\n";
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
    const std::string b = "RTSP/1.0 200 OK\n\n";
    EXPECT_EQ(again.ParseResponse(a.data(), int32_t(a.size())), 0);
    EXPECT_EQ(again.ParseResponse(b.data(), int32_t(b.size())), int32_t(b.size()));
}

TEST(HTTPCommand, ParseLineMatchesKeysAndCutsValues)
{
    const struct {
        const char* m_Line;
        const char* m_Key;
        const char* m_Value;   // null: no match
    } cases[] = {
        {"Transport: RTP/AVP", "Transport: ", "RTP/AVP"},
        {"transport:RTP/AVP", "Transport: ", "RTP/AVP"},
        {"TRANSPORT: \t x y \t\r", "Transport: ", "x y"},
        {"Transport :x", "Transport: ", "x"},
        {"Transport:", "Transport: ", ""},
        {"Transport:   \r", "Transport: ", ""},
        {"Transports: x", "Transport: ", nullptr},
        {"Transport x", "Transport: ", nullptr},
        {"Trans", "Transport: ", nullptr},
        {"X-Transport: x", "Transport: ", nullptr},
        {"Transport: a: b", "Transport", "a: b"},
        {nullptr, "Key:", nullptr},
        {"Key: v", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_Line ? c.m_Line : "(null)");
        char* pField = CJXString::Clone("old");
        EXPECT_EQ(CJXHTTPCommand::ParseLine(pField, c.m_Line, c.m_Key), c.m_Value != nullptr);
        EXPECT_STREQ(pField, c.m_Value ? c.m_Value : "old");
        free(pField);
    }
}

TEST(HTTPCommand, SessionAndCSeqValues)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Session: 12345678", "0 session[12345678] incomplete"},
        {"session:ABCDEF ; timeout = 75 ", "0 session[ABCDEF] timeout[75] incomplete"},
        {"Session: id;other=1;timeout=30", "0 session[id] timeout[30] incomplete"},
        {"Session: id;timeout=", "0 session[id] incomplete"},
        {"Session: id;timeout=12abc", "0 session[id] incomplete"},
        {"Session: id;timeout=70000", "0 session[id] timeout[65535] incomplete"},
        {"Session: id;timeouts=5", "0 session[id] incomplete"},
        {"Session: id;TIMEOUT=5", "0 session[id] timeout[5] incomplete"},
        {"Session: ;timeout=5", "0 timeout[5] incomplete"},
        {"Session:", "0 incomplete"},
        {"cseq:65535", "0 cseq[65535] incomplete"},
        {"CSeq: 65536", "0 incomplete"},
        {"CSeq: 65537", "0 cseq[1] incomplete"},
        {"CSeq: abc", "0 incomplete"},
        {"CSeq: 99999999999", "0 incomplete"},
        {"CSeq: -3", "0 incomplete"},
    };
    for (const auto& c : cases) {
        CJXHTTPCommand cmd;
        EXPECT_EQ(cmd.ParseHeadLine(c.first), 1) << c.first;
        EXPECT_EQ(Describe(cmd), c.second) << c.first;
    }
}

// A derived reader sees its own ParseHeadLine first, unknown lines in ParseOther.
struct CRecordingCommand : CJXHTTPCommand {
    int32_t ParseOther(const char* pLine) override { return m_Other.emplace_back(pLine), 1; }
    std::vector<std::string> m_Other;
};

TEST(HTTPCommand, DerivedReaderGetsUnknownLinesWithoutLineEnd)
{
    const std::string text = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nServer: cam\r\nSet-Cookie: a=b\r\nDate: x\n\r\n";
    CRecordingCommand cmd;
    EXPECT_EQ(cmd.ParseResponse(text.data(), int32_t(text.size())), int32_t(text.size()));
    EXPECT_EQ(cmd.m_CSeq, 5);
    EXPECT_EQ(cmd.m_Other, (std::vector<std::string>{"Server: cam", "Date: x"}));
}

TEST(HTTPCommand, RequestsAtEverySplit)
{
    const std::string setup = "SETUP rtsp://127.0.0.1:8554/cam/trackID=1 RTSP/1.0\r\nCSeq: 3\r\n"
                              "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\nContent-Length: 4\r\n\r\nbody";
    const std::string play = "PLAY rtsp://127.0.0.1/cam RTSP/1.0\nCSeq: 4\nSession: 99\n\n";
    const std::string stream = setup + play;
    CJXHTTPCommand cmd;
    for (size_t cut = 0; cut <= setup.size(); ++cut) {
        SCOPED_TRACE(cut);
        cmd.Reset();
        std::string buf = stream.substr(0, cut);
        for (int32_t nCall = 0; nCall < 2; ++nCall) {
            const int32_t nRet = cmd.RecvRequest(buf.data(), int32_t(buf.size()), &cmd.m_Body);
            ASSERT_GE(nRet, 0);
            buf.erase(0, size_t(nRet));
            if (nCall == 0) buf += stream.substr(cut);
        }
        ASSERT_TRUE(cmd.IsCompleted());
        EXPECT_STREQ(cmd.m_Method, "SETUP");
        EXPECT_STREQ(cmd.m_Uri, "rtsp://127.0.0.1:8554/cam/trackID=1");
        EXPECT_EQ(Describe(cmd), "0 transport[RTP/AVP/TCP;unicast;interleaved=0-1] cseq[3] body[body]");
        EXPECT_EQ(buf, play);
    }
    for (const char* pBad :
         {"DESCRIBE\r\n\r\n", "DESCRIBE rtsp://x\r\n\r\n", "DESCRIBE rtsp://x RTSP/1.0 extra\r\n\r\n",
          "DESCRIBE  RTSP/1.0\r\n\r\n", "RTSP/1.0 200 OK\r\n\r\n", " DESCRIBE rtsp://x RTSP/1.0\r\n\r\n",
          "DESCRIBE rtsp://x SIP/2.0\r\n\r\n", "DE\"SCRIBE rtsp://x RTSP/1.0\r\n\r\n"}) {
        CJXHTTPCommand refused;
        EXPECT_EQ(CallParse(refused, pBad, false, true), JX_ERR_CONTENT) << pBad;
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
    free(out.m_Uri);
    out.m_Uri = CJXString::Clone("rtsp://h/x RTSP/1.0\r\nX-Evil: 1");   // would smuggle header lines
    EXPECT_EQ(out.BuildRequest(&head, nullptr), JX_ERR_ARG);
    free(out.m_Uri);
    out.m_Uri = nullptr;   // no request line without a URI
    EXPECT_EQ(out.BuildRequest(&head, nullptr), JX_ERR_ARG);

    CJXHTTPCommand reply;
    reply.m_StatusCode = 401;
    reply.m_WWWAuthenticate = CJXString::Clone("Digest realm=\"r\"");
    CJXString text;
    ASSERT_EQ(reply.BuildResponse(&text, nullptr), 0);
    ASSERT_EQ(CJXHTTPCommand::BuildLine(text, "CSeq: ", 9), 9);
    EXPECT_STREQ(text.c_str(), "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\"\r\n\r\nCSeq: 9\r\n");
    reply.m_StatusCode = 99;
    EXPECT_EQ(reply.BuildResponse(&text, nullptr), JX_ERR_ARG);
    CJXString raw;
    EXPECT_EQ(reply.BuildContent(raw, "ab\0c", 4), 4);
    EXPECT_EQ(std::string(raw.m_Data, size_t(raw.m_Length)), std::string("ab\0c", 4));
}

// Chunks built and read back at every split, then extensions, trailers and bad chunks.
TEST(HTTPCommand, ChunkedBodies)
{
    CJXHTTPCommand builder;
    CJXString chunks;
    EXPECT_EQ(builder.BuildChunked(chunks, "hello", 5), 10);
    EXPECT_GT(builder.BuildChunked(chunks, " chunked world", 14), 0);
    EXPECT_EQ(builder.BuildChunked(chunks, nullptr, 0), 5);
    EXPECT_STREQ(chunks.c_str(), "5\r\nhello\r\ne\r\n chunked world\r\n0\r\n\r\n");
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n";
    const std::string text = head + chunks.c_str() + "RTSP/1.0 200 OK\r\n";
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        CJXHTTPCommand cmd;
        SFeedResult r = Feed(cmd, {text.substr(0, cut), text.substr(cut)});
        ASSERT_EQ(r.m_Error, 0) << cut;
        EXPECT_EQ(Describe(cmd), "200 reason[OK]") << cut;
        EXPECT_STREQ(cmd.m_Body.c_str(), "hello chunked world") << cut;
        EXPECT_EQ(r.m_Left, "RTSP/1.0 200 OK\r\n") << cut;
    }
    const std::pair<std::string, int32_t> rows[] = {
        {"3;name=v\nabc\n0\nX-Trailer: 1\n\n", 0},
        {"3;" + std::string(1022, 'x') + "\r\nabc\r\n0\r\n\r\n", 0},   // the longest size line
        {"3;" + std::string(1023, 'x') + "\r\nabc\r\n0\r\n\r\n", JX_ERR_CONTENT},
        {"zz\r\n", JX_ERR_CONTENT},
        {"40001\r\n", JX_ERR_CONTENT},
        {"FFFFFFFFFFFFFFFF\r\n", JX_ERR_CONTENT},
        {"3\r\nabcX\r\n", JX_ERR_CONTENT},
        {"3 x\r\nabc\r\n", JX_ERR_CONTENT},
        {"5\r\n" + std::string(2000, 'a'), JX_ERR_CONTENT},
        {std::string(2000, '1'), JX_ERR_CONTENT},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first.substr(0, 20));
        CJXHTTPCommand cmd;
        EXPECT_EQ(Feed(cmd, {head, row.first}).m_Error, row.second);
        EXPECT_EQ(cmd.IsCompleted(), row.second == 0);
        if (row.second == 0) {
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
