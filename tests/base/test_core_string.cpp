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

TEST(CoreString, ConstructAndAssign)
{
    CJXString empty;
    EXPECT_EQ(empty.m_Data, nullptr);
    EXPECT_STREQ(empty.c_str(), "");
    ExpectSound(empty);

    CJXString s("RTSP/1.0", 5);
    EXPECT_EQ(Text(s), "RTSP/1.0");
    ExpectSound(s);

    CJXString copy(s);
    EXPECT_EQ(Text(copy), "RTSP/1.0");
    EXPECT_NE(copy.m_Data, s.m_Data);

    copy = "other";
    EXPECT_EQ(Text(copy), "other");
    const CJXString& alias = copy;
    copy = alias;   // self-assignment keeps the content
    EXPECT_EQ(Text(copy), "other");
    copy = static_cast<const char*>(nullptr);
    EXPECT_EQ(copy.m_Length, 0);
    ExpectSound(copy);

    s += " 200";
    s += nullptr;
    EXPECT_EQ(Text(s), "RTSP/1.0 200");
    // Assigning a tail of its own content.
    s = s.m_Data + 5;
    EXPECT_EQ(Text(s), "1.0 200");
    ExpectSound(s);
}

TEST(CoreString, InitReservesAndKeepsContent)
{
    CJXString s("abc");
    EXPECT_EQ(s.Init(-1), JX_ERR_ARG);
    EXPECT_EQ(s.Init(INT_MAX), JX_ERR_NOMEM);
    EXPECT_EQ(Text(s), "abc");
    ASSERT_EQ(s.Init(4096), JX_OK);
    EXPECT_GE(s.m_Size, 4096);
    EXPECT_GE(s.GetSpace(), 4096 - 3);
    EXPECT_EQ(Text(s), "abc");
    ExpectSound(s);

    CJXString fresh;
    ASSERT_EQ(fresh.Init(0), JX_OK);
    EXPECT_NE(fresh.m_Data, nullptr);
    ExpectSound(fresh);
}

TEST(CoreString, AppendFormats)
{
    CJXString s;
    EXPECT_EQ(s.Append("CSeq: %d\r\n", 7), 9);
    EXPECT_EQ(s.Append("%s", ""), 0);
    EXPECT_EQ(s.Append("%s %u %c", "x", 42u, 'z'), 6);
    EXPECT_EQ(Text(s), "CSeq: 7\r\nx 42 z");
    EXPECT_EQ(s.Append(nullptr), JX_ERR_ARG);
    ExpectSound(s);
}

TEST(CoreString, AppendHugeText)
{
    // A formatted text much larger than the buffer grows it in one step.
    std::string big(1 << 20, 'q');
    big[12345] = 'X';
    CJXString s("head:");
    EXPECT_EQ(s.Append("%s", big.c_str()), 1 << 20);
    EXPECT_EQ(s.m_Length, 5 + (1 << 20));
    EXPECT_EQ(Text(s), "head:" + big);
    ExpectSound(s);

    // A text beyond the printf limit is refused and leaves the content alone.
    CJXString small("keep");
    ASSERT_EQ(small.Init(64), JX_OK);
    const std::string huge((16 << 20) + 1, 'z');
    EXPECT_EQ(small.Append("%s", huge.c_str()), JX_ERR_NOMEM);
    EXPECT_EQ(Text(small), "keep");
    ExpectSound(small);
}

TEST(CoreString, AppendExactFitAndOneOver)
{
    // Texts ending exactly at the reserved size and one byte past it.
    for (int32_t nExtra = -1; nExtra <= 1; ++nExtra) {
        CJXString s;
        ASSERT_EQ(s.Init(32), JX_OK);
        const int32_t nSize = s.m_Size;
        std::string text(static_cast<size_t>(nSize + nExtra), 'a');
        EXPECT_EQ(s.Append("%s", text.c_str()), nSize + nExtra);
        EXPECT_EQ(Text(s), text);
        ExpectSound(s);
    }
}

TEST(CoreString, AppendDATHostileArguments)
{
    CJXString s("ab");
    EXPECT_EQ(s.AppendDAT(nullptr, 3), JX_ERR_ARG);
    EXPECT_EQ(s.AppendDAT("xyz", -1), JX_ERR_ARG);
    EXPECT_EQ(s.AppendDAT("xyz", INT_MIN), JX_ERR_ARG);
    EXPECT_EQ(s.AppendDAT("xyz", INT_MAX), JX_ERR_NOMEM);
    EXPECT_EQ(s.AppendDAT(nullptr, 0), 0);
    EXPECT_EQ(Text(s), "ab");

    const char bin[4] = {'\0', '\x01', '\xff', '\0'};
    EXPECT_EQ(s.AppendDAT(bin, 4), 4);
    EXPECT_EQ(s.m_Length, 6);
    EXPECT_EQ(memcmp(s.m_Data + 2, bin, 4), 0);
    ExpectSound(s);
}

TEST(CoreString, AppendDATFromOwnContent)
{
    // The source moves when the buffer grows; doubling repeatedly forces that.
    CJXString s("0123456789");
    for (int32_t i = 0; i < 10; ++i) {
        ASSERT_EQ(s.AppendDAT(s.m_Data, s.m_Length), 10 << i);
    }
    ASSERT_EQ(s.m_Length, 10 << 10);
    for (int32_t i = 0; i < s.m_Length; ++i) {
        ASSERT_EQ(s.m_Data[i], '0' + i % 10);
    }
    ExpectSound(s);
}

TEST(CoreString, GrowthIsGeometric)
{
    // 100000 one-byte appends must not reallocate for each step.
    CJXString s(nullptr, 1);
    int32_t nGrowths = 0;
    int32_t nLastSize = s.m_Size;
    for (int32_t i = 0; i < 100000; ++i) {
        ASSERT_EQ(s.AppendDAT("z", 1), 1);
        if (s.m_Size != nLastSize) {
            ++nGrowths;
            nLastSize = s.m_Size;
        }
    }
    EXPECT_EQ(s.m_Length, 100000);
    EXPECT_LT(nGrowths, 30);
    ExpectSound(s);
}

TEST(CoreString, TailAddFlush)
{
    CJXString s;
    ASSERT_EQ(s.Init(16), JX_OK);
    const int32_t nSpace = s.GetSpace();
    memcpy(s.GetTail(), "hello", 5);
    s.Add(5);
    EXPECT_EQ(Text(s), "hello");
    EXPECT_EQ(s.GetSpace(), nSpace - 5);

    s.Add(-3);   // ignored
    s.Add(0);
    EXPECT_EQ(s.m_Length, 5);
    s.Add(INT_MAX);   // clamped to the space
    EXPECT_EQ(s.m_Length, s.m_Size);
    EXPECT_EQ(s.GetSpace(), 0);
    ExpectSound(s);

    s = "abcdefgh";
    s.Flush(-1);
    s.Flush(0);
    EXPECT_EQ(Text(s), "abcdefgh");
    s.Flush(3);
    EXPECT_EQ(Text(s), "defgh");
    s.Flush(5);
    EXPECT_EQ(s.m_Length, 0);
    s = "xyz";
    s.Flush(INT_MAX);
    EXPECT_EQ(s.m_Length, 0);
    ExpectSound(s);

    CJXString none;
    none.Add(5);
    none.Flush(5);
    EXPECT_EQ(none.GetTail(), nullptr);
    ExpectSound(none);
}

TEST(CoreString, EmptyKeepsOrFreesStorage)
{
    CJXString s("some text");
    char* pOld = s.m_Data;
    s.Empty();
    EXPECT_EQ(s.m_Data, pOld);
    EXPECT_EQ(s.m_Length, 0);
    ExpectSound(s);
    s.Empty(true);
    EXPECT_EQ(s.m_Data, nullptr);
    EXPECT_EQ(s.m_Size, 0);
    EXPECT_EQ(s.Append("%d", 5), 1);
    EXPECT_EQ(Text(s), "5");
}

TEST(CoreString, CloneIsEmptyTrimL)
{
    struct Case {
        const char* pText;
        int32_t n;
        const char* pExpect;   // null: no copy
    };
    const Case cases[] = {
        {"rtsp://cam/x", 0, "rtsp://cam/x"},
        {"rtsp://cam/x", 4, "rtsp"},
        {"abc", 100, "abc"},   // stops at the text's NUL
        {"", 0, ""},
        {"abc", -1, nullptr},
        {nullptr, 0, nullptr},
    };
    for (const Case& c : cases) {
        char* p = CJXString::Clone(c.pText, c.n);
        if (c.pExpect == nullptr) {
            EXPECT_EQ(p, nullptr);
        } else {
            ASSERT_NE(p, nullptr);
            EXPECT_STREQ(p, c.pExpect);
        }
        free(p);
    }

    EXPECT_TRUE(CJXString::IsEmpty(nullptr));
    EXPECT_TRUE(CJXString::IsEmpty(""));
    EXPECT_FALSE(CJXString::IsEmpty(" "));

    EXPECT_STREQ(CJXString::TrimL(" \t \tvalue "), "value ");
    EXPECT_STREQ(CJXString::TrimL("value"), "value");
    EXPECT_STREQ(CJXString::TrimL("   "), "");
    EXPECT_STREQ(CJXString::TrimL("\r\nx"), "\r\nx");
    EXPECT_EQ(CJXString::TrimL(nullptr), nullptr);
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
        {kEqual, "", 0, "", true},          {kEqual, "x", 0, "", true},
        {kEqual, "x", 1, "", false},        {kEqual, "", 0, "a", false},
        {kEqual, "dIgEsT", 6, "DIGEST", true},
        {kEqual, "Digests", 6, "digest", true},   // only n bytes count
        {kEqual, "Diges", 5, "digest", false},    {kEqual, "Digest", 6, "dig", false},
        {kEqual, "[", 1, "{", false},       {kEqual, "@", 1, "`", false},   // 0x20 apart, not letters
        {kEqual, "\xC4", 1, "\xE4", false}, {kEqual, "\xE4", 1, "\xE4", true},
        {kEqual, "a\0b", 3, "a", false},    {kEqual, "a\0", 2, "a", false},
        {kStarts, "a=Control:x", 0, "a=control:", true},
        {kStarts, "a=cont", 0, "a=control:", false},
        {kStarts, "", 0, "", true},         {kStarts, "\xC4" "b", 0, "\xE4", false},
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

}  // namespace
