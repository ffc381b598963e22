// Base64 (RFC 4648), MD5 (RFC 1321) and SHA-256 (FIPS 180-4) against the
// published vectors and hostile input.
#include "JXCodec.h"
#include "rtp_capture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Decodes; returns the code and fills out on success.
int32_t Decode(const char* pText, int32_t bStrict, std::string& out)
{
    char* p = nullptr;
    int32_t n = -1;
    const int32_t nResult = JXBASE64Decode(&p, &n, pText, bStrict);
    if (nResult == JX_OK) {
        EXPECT_NE(p, nullptr);
        EXPECT_GE(n, 0);
        EXPECT_EQ(p[n], '\0');
        out.assign(p, static_cast<size_t>(n));
    }
    free(p);
    return nResult;
}

std::string Encode(const std::string& in)
{
    char* p = nullptr;
    int32_t n = -1;
    EXPECT_EQ(JXBASE64Encode(&p, &n, in.data(), static_cast<int32_t>(in.size())), JX_OK);
    std::string out(p, static_cast<size_t>(n));
    EXPECT_EQ(strlen(p), static_cast<size_t>(n));
    free(p);
    return out;
}

// The published vectors both ways, then every length up to 300 of bytes of
// every value round trip.
TEST(CoreBase64, VectorsAndRoundTrip)
{
    const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    std::string out;
    for (const auto& v : vectors) {
        EXPECT_EQ(Encode(v.first), v.second);
        EXPECT_EQ(Decode(v.second, 1, out), JX_OK) << v.second;
        EXPECT_EQ(out, v.first);
    }
    constexpr int32_t kLongest = 300;
    std::string data;
    for (int32_t i = 0; i < kLongest; ++i) {
        data.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
        ASSERT_EQ(Decode(Encode(data).c_str(), 1, out), JX_OK);
        ASSERT_EQ(out, data);
    }
}

// One row a text, decoded strict and lenient; null: refused in that mode.
TEST(CoreBase64, DecodeStrictAndLenient)
{
    const struct {
        const char* m_Text;
        const char* m_Strict;
        const char* m_Lenient;
    } rows[] = {
        {"Z", nullptr, nullptr},       // length not a multiple of 4
        {"Zm9vY", nullptr, nullptr},   // one digit left over
        {"Zg", nullptr, "f"},          // padding missing
        {"Zm8", nullptr, "fo"},
        {"Zm9vYg", nullptr, "foob"},
        {"Zg=", nullptr, "f"},            // padding incomplete
        {"Zm9v!A==", nullptr, nullptr},   // outside the alphabet
        {"Zm9v-_==", nullptr, nullptr},   // the URL-safe alphabet is not ours
        {"Zm9v,YmFy", nullptr, nullptr},
        {"Zg==Zg==", nullptr, nullptr},   // data after padding
        {"Zg==Zg", nullptr, nullptr},
        {"Z=g=", nullptr, nullptr},   // padding in the middle
        {"=Zg=", nullptr, nullptr},   // padding first
        {"Z===", nullptr, nullptr},   // too much padding
        {"====", nullptr, nullptr},
        {"Zm9v\r\nYmFy", nullptr, "foobar"},   // blanks only when lenient
        {" Zm9v\tYmE= ", nullptr, "fooba"},
        {"Zg== ", nullptr, "f"},
        {"Zm\xc3\xa9v", nullptr, nullptr},              // non-ASCII bytes
        {"Z0LAHtk", nullptr, "\x67\x42\xc0\x1e\xd9"},   // unpadded parameter set
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.m_Text);
        for (int32_t bStrict = 0; bStrict <= 1; ++bStrict) {
            const char* pExpect = bStrict ? r.m_Strict : r.m_Lenient;
            std::string out;
            const int32_t nRet = Decode(r.m_Text, bStrict, out);
            EXPECT_EQ(nRet, pExpect != nullptr ? JX_OK : JX_ERR_CONTENT) << "strict " << bStrict;
            if (pExpect != nullptr) {
                EXPECT_EQ(out, pExpect) << "strict " << bStrict;
            }
        }
    }
}

// Large inputs: a bad byte deep inside a long text is found in both modes, and
// a length whose encoding would not fit in 32 bits is refused before any
// allocation or write.
TEST(CoreBase64, LongInputs)
{
    std::string garbage(1 << 20, 'A');
    garbage[garbage.size() / 2] = '*';
    std::string out;
    EXPECT_EQ(Decode(garbage.c_str(), 1, out), JX_ERR_CONTENT);
    EXPECT_EQ(Decode(garbage.c_str(), 0, out), JX_ERR_CONTENT);
    garbage[garbage.size() / 2] = 'A';
    ASSERT_EQ(Decode(garbage.c_str(), 1, out), JX_OK);
    EXPECT_EQ(out.size(), (garbage.size() / 4) * 3);

    char* p = nullptr;
    int32_t n = 0;
    EXPECT_EQ(JXBASE64Encode(&p, &n, "x", 0x7FFFFFFF), JX_ERR_NOMEM);
    EXPECT_EQ(p, nullptr);
}

using HashFunc = int32_t (*)(const void*, int32_t, char*);

// The digest as hex; also checks the NUL right behind the digits.
std::string Hex(HashFunc f, int32_t nSize, const std::string& data)
{
    char out[JX_SHA256_HEX_SIZE + 1];
    memset(out, 'x', sizeof(out));
    EXPECT_EQ(f(data.data(), static_cast<int32_t>(data.size()), out), JX_OK);
    EXPECT_EQ(out[nSize - 1], '\0');
    const void* pEnd = memchr(out, '\0', sizeof(out));
    return std::string(out, pEnd != nullptr ? static_cast<const char*>(pEnd) - out : sizeof(out));
}

// Bytes of every value, so no step may treat a byte as signed.
std::string Pattern(size_t n)
{
    std::string data(n, '\0');
    for (size_t i = 0; i < n; ++i)
        data[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return data;
}

// The vectors of tests/data/vectors/digests.txt.
TEST(CoreDigest, KnownVectors)
{
    const auto rows = LoadTable("vectors/digests.txt");
    ASSERT_EQ(rows.size(), 10u);
    for (const auto& c : rows) {
        const size_t nStar = c.at(0).find('*');
        const size_t n = nStar == std::string::npos ? 0 : std::stoul(c[0]);
        const std::string data = nStar == std::string::npos ? c[0]
                                 : c[0].substr(nStar + 1) == "pattern" ? Pattern(n) : std::string(n, c[0][nStar + 1]);
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(Hex(JXMD5Data, JX_MD5_HEX_SIZE, data), c.at(1));
        EXPECT_EQ(Hex(JXSHA256Data, JX_SHA256_HEX_SIZE, data), c.at(2));
    }
}

}   // namespace
