// CJXString: content, NUL invariant, growth and hostile lengths.
#include "JXString.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The buffer's invariants: length within size, a NUL right behind the content.
void ExpectSound(const CJXString& s)
{
    ASSERT_GE(s.m_Length, 0);
    ASSERT_LE(s.m_Length, s.m_Size);
    if (s.m_Data != nullptr) {
        EXPECT_EQ(s.m_Data[s.m_Length], '\0');
    } else {
        EXPECT_EQ(s.m_Length, 0);
    }
}

std::string Text(const CJXString& s)
{
    return std::string(s.c_str(), static_cast<size_t>(s.m_Length));
}

// Assignments whose source lies inside the target's own buffer, and null.
TEST(CoreString, AssignAndAppendOwnContent)
{
    CJXString s("RTSP/1.0", 5);
    CJXString copy(s);
    EXPECT_NE(copy.m_Data, s.m_Data);
    const CJXString& alias = copy;
    copy = alias;   // self-assignment keeps the content
    EXPECT_EQ(Text(copy), "RTSP/1.0");
    copy = static_cast<const char*>(nullptr);
    EXPECT_EQ(copy.m_Length, 0);
    ExpectSound(copy);
    s += " 200";
    s += nullptr;
    s = s.m_Data + 5;   // a tail of its own content
    EXPECT_EQ(Text(s), "1.0 200");
    ExpectSound(s);

    // The source moves when the buffer grows; doubling repeatedly forces that.
    CJXString d("0123456789");
    for (int32_t i = 0; i < 10; ++i)
        ASSERT_EQ(d.AppendDAT(d.m_Data, d.m_Length), 10 << i);
    ASSERT_EQ(d.m_Length, 10 << 10);
    for (int32_t i = 0; i < d.m_Length; ++i)
        ASSERT_EQ(d.m_Data[i], '0' + i % 10);
    ExpectSound(d);
}

// Sizes that cannot be had are refused and leave the content alone; a text
// ending exactly at the reserved size, one short and one past it; a formatted
// text far larger than the buffer; binary bytes with NULs.
TEST(CoreString, AppendBounds)
{
    CJXString s("abc");
    EXPECT_EQ(s.Init(-1), JX_ERR_ARG);
    EXPECT_EQ(s.Init(INT_MAX), JX_ERR_NOMEM);
    EXPECT_EQ(s.AppendDAT("xyz", -1), JX_ERR_ARG);
    EXPECT_EQ(s.AppendDAT("xyz", INT_MIN), JX_ERR_ARG);
    EXPECT_EQ(s.AppendDAT("xyz", INT_MAX), JX_ERR_NOMEM);
    const std::string huge((16 << 20) + 1, 'z');   // beyond the printf limit
    EXPECT_EQ(s.Append("%s", huge.c_str()), JX_ERR_NOMEM);
    EXPECT_EQ(Text(s), "abc");
    ExpectSound(s);

    for (int32_t nExtra = -1; nExtra <= 1; ++nExtra) {
        CJXString fit;
        ASSERT_EQ(fit.Init(32), JX_OK);
        const std::string text(static_cast<size_t>(fit.m_Size + nExtra), 'a');
        EXPECT_EQ(fit.Append("%s", text.c_str()), static_cast<int32_t>(text.size()));
        EXPECT_EQ(Text(fit), text);
        ExpectSound(fit);
    }

    std::string big(1 << 20, 'q');
    big[12345] = 'X';
    CJXString head("head:");
    const std::string formatted = "CSeq: 7 " + big + " 42 z";
    EXPECT_EQ(head.Append("CSeq: %d %s %u %c", 7, big.c_str(), 42u, 'z'), static_cast<int32_t>(formatted.size()));
    EXPECT_EQ(Text(head), "head:" + formatted);
    const char bin[4] = {'\0', '\x01', '\xff', '\0'};
    EXPECT_EQ(head.AppendDAT(bin, 4), 4);
    EXPECT_EQ(Text(head).substr(head.m_Length - 4), std::string(bin, 4));
    ExpectSound(head);
}

// 100000 one-byte appends must not reallocate for each step.
TEST(CoreString, GrowthIsGeometric)
{
    constexpr int32_t kAppends = 100000;
    constexpr int32_t kMaxGrowths = 30;
    CJXString s(nullptr, 1);
    int32_t nGrowths = 0;
    int32_t nLastSize = s.m_Size;
    for (int32_t i = 0; i < kAppends; ++i) {
        ASSERT_EQ(s.AppendDAT("z", 1), 1);
        nGrowths += s.m_Size != nLastSize ? 1 : 0;
        nLastSize = s.m_Size;
    }
    EXPECT_EQ(s.m_Length, kAppends);
    EXPECT_LT(nGrowths, kMaxGrowths);
    ExpectSound(s);
}

// Add and Flush clamp what the caller claims to the buffer; a freed buffer
// takes appends again.
TEST(CoreString, TailAddFlushEmpty)
{
    CJXString s;
    ASSERT_EQ(s.Init(16), JX_OK);
    memcpy(s.GetTail(), "hello", 5);
    s.Add(5);
    s.Add(-3);   // ignored
    EXPECT_EQ(Text(s), "hello");
    s.Add(INT_MAX);
    EXPECT_EQ(s.m_Length, s.m_Size);
    EXPECT_EQ(s.GetSpace(), 0);
    ExpectSound(s);

    const struct {
        int32_t m_Flush;
        const char* m_Expect;
    } flushes[] = {{-1, "abcdefgh"}, {0, "abcdefgh"}, {3, "defgh"}, {8, ""}, {INT_MAX, ""}};
    for (const auto& f : flushes) {
        s = "abcdefgh";
        s.Flush(f.m_Flush);
        EXPECT_EQ(Text(s), f.m_Expect) << f.m_Flush;
        ExpectSound(s);
    }

    const char* pKept = s.m_Data;
    s.Empty();   // the buffer stays for the next message
    EXPECT_EQ(s.m_Data, pKept);
    s.Empty(true);
    EXPECT_STREQ(s.c_str(), "");
    s.Add(5);
    s.Flush(5);
    EXPECT_EQ(s.GetTail(), nullptr);
    EXPECT_EQ(s.Append("%d", 5), 1);
    EXPECT_EQ(Text(s), "5");
}

TEST(CoreString, CloneAndTrimL)
{
    const struct {
        const char* m_Text;
        int32_t m_N;
        const char* m_Clone;   // null: no copy
        const char* m_TrimL;
    } rows[] = {
        {"rtsp://cam/x", 0, "rtsp://cam/x", "rtsp://cam/x"},
        {"rtsp://cam/x", 4, "rtsp", "rtsp://cam/x"},
        {"abc", 100, "abc", "abc"},   // stops at the text's NUL
        {"", 0, "", ""},
        {" \t \tvalue ", -1, nullptr, "value "},
        {"   ", 0, "   ", ""},
        {"\r\nx", 0, "\r\nx", "\r\nx"},
        {nullptr, 0, nullptr, nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.m_Text != nullptr ? r.m_Text : "(null)");
        char* p = CJXString::Clone(r.m_Text, r.m_N);
        EXPECT_STREQ(p, r.m_Clone);
        free(p);
        EXPECT_STREQ(CJXString::TrimL(r.m_Text), r.m_TrimL);
    }
}

// The one case-insensitive compare: ASCII letters only, no locale, never a
// byte past the given length or the text's NUL (the text is an exact-size
// heap copy, so ASan sees any such read).
TEST(CoreString, CompareNoCase)
{
    enum { kEqual, kStarts, kStartsN };
    const struct {
        int32_t m_Kind;
        const char* m_Text;
        int32_t m_N;   // kEqual: bytes of the text; kStartsN: bytes of the prefix
        const char* m_Word;
        bool m_Expect;
    } cases[] = {
        {kEqual, "", 0, "", true},
        {kEqual, "x", 0, "", true},
        {kEqual, "x", 1, "", false},
        {kEqual, "", 0, "a", false},
        {kEqual, "dIgEsT", 6, "DIGEST", true},
        {kEqual, "Digests", 6, "digest", true},   // only n bytes count
        {kEqual, "Diges", 5, "digest", false},
        {kEqual, "Digest", 6, "dig", false},
        {kEqual, "[", 1, "{", false},
        {kEqual, "@", 1, "`", false},   // 0x20 apart, not letters
        {kEqual, "\xC4", 1, "\xE4", false},
        {kEqual, "\xE4", 1, "\xE4", true},
        {kEqual, "a\0b", 3, "a", false},
        {kEqual, "a\0", 2, "a", false},
        {kStarts, "a=Control:x", 0, "a=control:", true},
        {kStarts, "a=cont", 0, "a=control:", false},
        {kStarts, "", 0, "", true},
        {kStarts,
         "\xC4"
         "b",
         0, "\xE4", false},
        {kStartsN, "CSeq : 1", 4, "cseq:", true},
        {kStartsN, "CS", 4, "cseq:", false},
        {kStartsN, "c", 3, "c\0x", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.m_Text) + " / " + c.m_Word);
        const size_t nCopy = c.m_Kind == kEqual ? size_t(c.m_N) : strlen(c.m_Text) + 1;
        char* pText = static_cast<char*>(malloc(nCopy > 0 ? nCopy : 1));
        memcpy(pText, c.m_Text, nCopy);
        bool bResult = false;
        if (c.m_Kind == kEqual) bResult = CJXString::EqualNoCase(pText, c.m_N, c.m_Word);
        if (c.m_Kind == kStarts) bResult = CJXString::StartsWithNoCase(pText, c.m_Word);
        if (c.m_Kind == kStartsN) bResult = CJXString::StartsWithNoCase(pText, c.m_Word, c.m_N);
        EXPECT_EQ(bResult, c.m_Expect);
        free(pText);
    }
}

}   // namespace
