// Base64 (RFC 4648), MD5 (RFC 1321) and SHA-256 (FIPS 180-4) against the
// published vectors and hostile input.
#include "JXCodec.h"

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

// Published vectors, lengths around the 56- and 64-byte block edges and long
// inputs (values from md5sum and sha256sum).
TEST(CoreDigest, KnownVectors)
{
    const struct {
        std::string m_Data;
        const char* m_MD5;
        const char* m_SHA256;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65",
         "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218",
         "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93",
         "f13b2d724659eb3bf47f2dd6af1accc87b81f09f59f2b75e5c0bed6589dfe8c6"},
        {std::string(63, 'a'), "b06521f39153d618550606be297466d5",
         "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367",
         "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435",
         "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21",
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {Pattern(1 << 20), "d8a469bb35fb5fad7156842ba2242434",
         "172c15dc2e12b50e523d8e657cbe7fbb11c1053252bbf1e1431077d57d8128fd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_Data.substr(0, 16) + " length " + std::to_string(c.m_Data.size()));
        EXPECT_EQ(Hex(JXMD5Data, JX_MD5_HEX_SIZE, c.m_Data), c.m_MD5);
        EXPECT_EQ(Hex(JXSHA256Data, JX_SHA256_HEX_SIZE, c.m_Data), c.m_SHA256);
    }
}

}   // namespace
