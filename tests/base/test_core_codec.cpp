// Base64 (RFC 4648) and MD5 (RFC 1321) against the RFC vectors and hostile input.
#include "JXCodec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

TEST(CoreBase64, RfcVectors)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(Encode(v.first), v.second);
        std::string out;
        EXPECT_EQ(Decode(v.second, 1, out), JX_OK) << v.second;
        EXPECT_EQ(out, v.first);
        EXPECT_EQ(Decode(v.second, 0, out), JX_OK) << v.second;
        EXPECT_EQ(out, v.first);
    }
}

TEST(CoreBase64, RoundTripAllByteValues)
{
    std::string data;
    for (int32_t i = 0; i < 300; ++i) {
        data.push_back(static_cast<char>((i * 37 + 11) & 0xFF));
        std::string out;
        ASSERT_EQ(Decode(Encode(data).c_str(), 1, out), JX_OK);
        ASSERT_EQ(out, data);
    }
}

TEST(CoreBase64, StrictRefusesBadInput)
{
    const char* bad[] = {
        "Z",          // length not a multiple of 4
        "Zg",         // padding missing
        "Zg=",        // padding incomplete
        "Zm9vY",      // one digit left over
        "Zm9v!A==",   // outside the alphabet
        "Zm9v-_==",   // the URL-safe alphabet is not ours
        "Zg==Zg==",   // data after padding
        "Z=g=",       // padding in the middle
        "=Zg=",       // padding first
        "Z===",       // too much padding
        "====",
        "Zm9v\r\nYmFy",   // no blanks in strict mode
        " Zg==",
        "Zg== ",
        "Zm\xc3\xa9v",    // non-ASCII bytes
    };
    for (const char* p : bad) {
        std::string out;
        EXPECT_EQ(Decode(p, 1, out), JX_ERR_CONTENT) << p;
    }
}

TEST(CoreBase64, LenientAcceptsBlanksAndMissingPadding)
{
    const std::pair<const char*, std::string> good[] = {
        {"Zg", "f"},
        {"Zm8", "fo"},
        {"Zm9vYg", "foob"},
        {"Zg=", "f"},
        {"Zm9v\r\nYmFy", "foobar"},
        {" Zm9v\tYmE= ", "fooba"},
        {"Z0LAHtk", std::string("\x67\x42\xc0\x1e\xd9", 5)},   // unpadded parameter set
    };
    for (const auto& g : good) {
        std::string out;
        ASSERT_EQ(Decode(g.first, 0, out), JX_OK) << g.first;
        EXPECT_EQ(out, g.second) << g.first;
    }
    const char* bad[] = {"Z", "Zm9vY", "Zm9v!A==", "Zg==Zg", "Z===", "Zm9v,YmFy"};
    for (const char* p : bad) {
        std::string out;
        EXPECT_EQ(Decode(p, 0, out), JX_ERR_CONTENT) << p;
    }
}

TEST(CoreBase64, BadArguments)
{
    char* p = nullptr;
    int32_t n = 0;
    EXPECT_EQ(JXBASE64Encode(nullptr, &n, "x", 1), JX_ERR_ARG);
    EXPECT_EQ(JXBASE64Encode(&p, nullptr, "x", 1), JX_ERR_ARG);
    EXPECT_EQ(JXBASE64Encode(&p, &n, "x", -1), JX_ERR_ARG);
    EXPECT_EQ(JXBASE64Encode(&p, &n, nullptr, 3), JX_ERR_ARG);
    EXPECT_EQ(JXBASE64Encode(&p, &n, "x", 0x7FFFFFFF), JX_ERR_NOMEM);   // output would overflow
    EXPECT_EQ(JXBASE64Decode(nullptr, &n, "Zg==", 1), JX_ERR_ARG);
    EXPECT_EQ(JXBASE64Decode(&p, nullptr, "Zg==", 1), JX_ERR_ARG);
    EXPECT_EQ(JXBASE64Decode(&p, &n, nullptr, 1), JX_ERR_ARG);
    EXPECT_EQ(p, nullptr);
}

TEST(CoreBase64, LongGarbageIsRefusedQuickly)
{
    std::string garbage(1 << 20, 'A');
    garbage[garbage.size() / 2] = '*';
    std::string out;
    EXPECT_EQ(Decode(garbage.c_str(), 1, out), JX_ERR_CONTENT);
    EXPECT_EQ(Decode(garbage.c_str(), 0, out), JX_ERR_CONTENT);
    garbage[garbage.size() / 2] = 'A';
    ASSERT_EQ(Decode(garbage.c_str(), 1, out), JX_OK);
    EXPECT_EQ(out.size(), (garbage.size() / 4) * 3);
}

std::string MD5(const void* p, int32_t n)
{
    char out[33];
    memset(out, 'x', sizeof(out));
    EXPECT_EQ(JXMD5Data(p, n, out), JX_OK);
    EXPECT_EQ(out[32], '\0');
    return out;
}

TEST(CoreMD5, RfcVectors)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(MD5(v.first, static_cast<int32_t>(strlen(v.first))), v.second) << v.first;
    }
}

TEST(CoreMD5, PaddingBoundaries)
{
    // Lengths around the 56-byte and 64-byte block edges, values from an
    // independent MD5 implementation.
    const std::pair<int32_t, const char*> vectors[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {57, "652b906d60af96844ebd21b674f35e93"},  {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},  {65, "c743a45e0d2e6a95cb859adae0248435"},
        {119, "8a7bd0732ed6a28ce75f6dabc90e1613"}, {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
        {128, "e510683b3f5ffe4093d021808bc6ff70"},
    };
    for (const auto& v : vectors) {
        const std::string data(static_cast<size_t>(v.first), 'a');
        EXPECT_EQ(MD5(data.data(), v.first), v.second) << v.first;
    }
}

TEST(CoreMD5, OneMegabyte)
{
    std::vector<uint8_t> data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
    }
    EXPECT_EQ(MD5(data.data(), static_cast<int32_t>(data.size())), "d8a469bb35fb5fad7156842ba2242434");
}

TEST(CoreMD5, BadArguments)
{
    char out[33] = {};
    EXPECT_EQ(JXMD5Data("abc", 3, nullptr), JX_ERR_ARG);
    EXPECT_EQ(JXMD5Data(nullptr, 3, out), JX_ERR_ARG);
    EXPECT_EQ(JXMD5Data("abc", -1, out), JX_ERR_ARG);
    EXPECT_EQ(JXMD5Data(nullptr, 0, out), JX_OK);
    EXPECT_STREQ(out, "d41d8cd98f00b204e9800998ecf8427e");
}

}  // namespace
