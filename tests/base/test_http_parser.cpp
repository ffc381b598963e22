// Line reader over SDP-like text: line ends, overlong lines, rewinding.
#include "HTTPParser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// All lines of text, read from an exact-size heap copy without a NUL behind it,
// so ASan flags any read past the end.
std::vector<std::string> ReadAll(const std::string& text)
{
    char* p = static_cast<char*>(malloc(text.size() ? text.size() : 1));
    memcpy(p, text.data(), text.size());
    CHTTPParser parser;
    EXPECT_EQ(parser.Setup(p, int32_t(text.size())), 0);
    std::vector<std::string> lines;
    while (const char* pLine = parser.ParseNext()) {
        EXPECT_EQ(pLine, parser.m_Line);
        lines.emplace_back(pLine);
        if (lines.size() > text.size() + 1) break;   // a reader that does not advance
    }
    EXPECT_EQ(parser.m_Line, nullptr);
    EXPECT_EQ(memcmp(p, text.data(), text.size()), 0);   // the text is not modified
    free(p);
    return lines;
}

using Lines = std::vector<std::string>;

TEST(HTTPParser, LineEnds)
{
    const size_t nMax = size_t(CHTTPParser::kMaxLineBytes);
    const std::string longLine = "a=" + std::string(nMax + 1000, 'x');
    const std::string exact(nMax, 'y');
    const std::vector<std::pair<std::string, Lines>> cases = {
        {"v=0\r\no=- 1 1 IN IP4 0.0.0.0\r\n", {"v=0", "o=- 1 1 IN IP4 0.0.0.0"}},
        {"v=0\ns=x\n", {"v=0", "s=x"}},
        {"v=0\rs=x\r", {"v=0", "s=x"}},
        {"v=0\r\ns=x\nt=0 0\rm=video", {"v=0", "s=x", "t=0 0", "m=video"}},
        {"last line without end", {"last line without end"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\n\nb\n", {"a", "", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"\n", {""}},
        {"\r\n", {""}},
        {"", {}},
        {"  blanks kept  \r\n", {"  blanks kept  "}},
        {std::string("a=b\0c\r\nd", 8), {"a=b", "d"}},   // a NUL ends the line's text
        // An overlong line is cut and its rest skipped.
        {"v=0\r\n" + longLine + "\r\nm=audio\r\n", {"v=0", longLine.substr(0, nMax), "m=audio"}},
        {exact + "\n" + exact, {exact, exact}},
        {exact + "z", {exact}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadAll(c.first), c.second) << c.first.substr(0, 40);
    }
}

TEST(HTTPParser, ResetRewindsOrForgets)
{
    const std::string text = "v=0\r\ns=name\r\n";
    CHTTPParser parser;
    ASSERT_EQ(parser.Setup(text.data(), int32_t(text.size())), 0);
    EXPECT_STREQ(parser.ParseNext(), "v=0");
    EXPECT_STREQ(parser.ParseNext(), "s=name");
    EXPECT_EQ(parser.ParseNext(), nullptr);
    parser.Reset(false);
    EXPECT_EQ(parser.m_Line, nullptr);
    EXPECT_STREQ(parser.ParseNext(), "v=0");

    parser.Reset(true);
    EXPECT_EQ(parser.m_Text, nullptr);
    EXPECT_EQ(parser.ParseNext(), nullptr);
    // The caller may set the fields itself, as the SDP reader does.
    const std::string other = "m=video 0 RTP/AVP 96\n";
    parser.m_Text = other.data();
    parser.m_Length = int32_t(other.size());
    parser.m_Pos = 0;
    EXPECT_STREQ(parser.ParseNext(), "m=video 0 RTP/AVP 96");
    EXPECT_EQ(parser.ParseNext(), nullptr);
    parser.m_Pos = -7;   // nonsense position: read from the start
    EXPECT_STREQ(parser.ParseNext(), "m=video 0 RTP/AVP 96");
    parser.m_Pos = 1000;
    EXPECT_EQ(parser.ParseNext(), nullptr);

    // A refused Setup forgets the text before it.
    for (int32_t nLen : {5, -1}) {
        ASSERT_EQ(parser.Setup(other.data(), int32_t(other.size())), 0);
        EXPECT_EQ(parser.Setup(nLen < 0 ? "abc" : nullptr, nLen), JX_ERR_ARG);
        EXPECT_EQ(parser.ParseNext(), nullptr) << nLen;
    }
    EXPECT_EQ(parser.Setup(nullptr, 0), 0);
    EXPECT_EQ(parser.ParseNext(), nullptr);
    EXPECT_EQ(parser.Setup("abc\ndef", 5), 0);   // only the given length is read
    EXPECT_STREQ(parser.ParseNext(), "abc");
    EXPECT_STREQ(parser.ParseNext(), "d");
    EXPECT_EQ(parser.ParseNext(), nullptr);
}

}   // namespace
