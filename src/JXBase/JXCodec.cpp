// Base64 (RFC 4648, standard alphabet with padding), MD5 (RFC 1321) and
// SHA-256 (FIPS 180-4).
#include "JXCodec.h"
#include "JXString.h"

#include <cstdlib>
#include <cstring>

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int32_t kMaxEncodeInput = (0x7FFFFFFE / 4) * 3;   // output length stays in 32 bits
constexpr size_t kMaxDecodeText = 0x7FFFFFFE;

// Value of a Base64 digit, or -1.
int32_t DigitValue(char c)
{
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

// Checks the text and counts its digits; JX_OK or JX_ERR_CONTENT.
int32_t ScanBase64(const char* pText, size_t nText, bool bStrict, size_t& nDigits)
{
    size_t nPad = 0;
    nDigits = 0;
    for (size_t i = 0; i < nText; ++i) {
        const char c = pText[i];
        if (!bStrict && CJXString::IsBlank(c)) {
            continue;
        }
        if (c == '=') {
            ++nPad;
            continue;
        }
        if (DigitValue(c) < 0 || nPad > 0) {
            return JX_ERR_CONTENT;   // not in the alphabet, or data after padding
        }
        ++nDigits;
    }
    if (nPad > 2 || nDigits % 4 == 1) {
        return JX_ERR_CONTENT;
    }
    if (bStrict && (nDigits + nPad) % 4 != 0) {
        return JX_ERR_CONTENT;   // strict: whole quanta, padding complete
    }
    return JX_OK;
}

struct MD5State {
    uint32_t a, b, c, d;
};

inline uint32_t RotateLeft(uint32_t x, int32_t n)
{
    return (x << n) | (x >> (32 - n));
}

void MD5Block(MD5State& s, const uint8_t* p)
{
    static const uint32_t K[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
    static const int32_t R[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                  5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                  4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                  6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    uint32_t m[16];
    for (int32_t i = 0; i < 16; ++i) {
        m[i] = uint32_t(p[i * 4]) | (uint32_t(p[i * 4 + 1]) << 8) | (uint32_t(p[i * 4 + 2]) << 16) |
               (uint32_t(p[i * 4 + 3]) << 24);
    }
    uint32_t a = s.a, b = s.b, c = s.c, d = s.d;
    for (int32_t i = 0; i < 64; ++i) {
        uint32_t f = 0;
        int32_t g = 0;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t nNext = d;
        d = c;
        c = b;
        b = b + RotateLeft(a + f + K[i] + m[g], R[i]);
        a = nNext;
    }
    s.a += a;
    s.b += b;
    s.c += c;
    s.d += d;
}

constexpr int32_t kBlockBytes = 64;   // MD5 and SHA-256 alike
constexpr int32_t kLengthBytes = 8;   // the message length in bits closes the last block
constexpr int32_t kSHA256Words = 8;
const char kHexDigits[] = "0123456789abcdef";

// The last one or two blocks of MD5 and SHA-256 alike: the bytes left over,
// 0x80, zeros, and the message length in bits, little-endian for MD5 and
// big-endian for SHA-256. The number of bytes written to tail (64 or 128).
int32_t PadLastBlocks(const uint8_t* pRest, int32_t nLeft, uint64_t nBytes, bool bBigEndian,
                      uint8_t (&tail)[2 * kBlockBytes])
{
    memset(tail, 0, sizeof(tail));
    if (nLeft > 0) {
        memcpy(tail, pRest, static_cast<size_t>(nLeft));
    }
    tail[nLeft] = 0x80;
    const int32_t nTail = nLeft < kBlockBytes - kLengthBytes ? kBlockBytes : 2 * kBlockBytes;
    const uint64_t nBits = nBytes * 8;
    for (int32_t i = 0; i < kLengthBytes; ++i) {
        const int32_t nAt = bBigEndian ? nTail - 1 - i : nTail - kLengthBytes + i;
        tail[nAt] = static_cast<uint8_t>(nBits >> (8 * i));
    }
    return nTail;
}

inline uint32_t RotateRight(uint32_t x, int32_t n)
{
    return (x >> n) | (x << (32 - n));
}

void SHA256Block(uint32_t* h, const uint8_t* p)
{
    static const uint32_t K[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t w[64];
    for (int32_t i = 0; i < 16; ++i) {
        w[i] = (uint32_t(p[i * 4]) << 24) | (uint32_t(p[i * 4 + 1]) << 16) | (uint32_t(p[i * 4 + 2]) << 8) |
               uint32_t(p[i * 4 + 3]);
    }
    for (int32_t i = 16; i < 64; ++i) {
        const uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t v[kSHA256Words];
    memcpy(v, h, sizeof(v));
    for (int32_t i = 0; i < 64; ++i) {
        const uint32_t e = v[4];
        const uint32_t a = v[0];
        const uint32_t t1 = v[7] + (RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25)) +
                            ((e & v[5]) ^ (~e & v[6])) + K[i] + w[i];
        const uint32_t t2 =
            (RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22)) + ((a & v[1]) ^ (a & v[2]) ^ (v[1] & v[2]));
        memmove(v + 1, v, sizeof(uint32_t) * (kSHA256Words - 1));
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int32_t i = 0; i < kSHA256Words; ++i) {
        h[i] += v[i];
    }
}
}   // namespace

extern "C" JXBASE_API int32_t JXBASE64Encode(char** ppOut, int32_t* pOutLen, const void* pData, int32_t n)
{
    if (ppOut == nullptr || pOutLen == nullptr || n < 0 || (pData == nullptr && n > 0)) {
        return JX_ERR_ARG;
    }
    if (n > kMaxEncodeInput) {
        return JX_ERR_NOMEM;
    }
    const int32_t nOut = (n + 2) / 3 * 4;
    char* pOut = static_cast<char*>(malloc(static_cast<size_t>(nOut) + 1));
    if (pOut == nullptr) {
        return JX_ERR_NOMEM;
    }
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    char* q = pOut;
    int32_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
        *q++ = kAlphabet[(v >> 18) & 63];
        *q++ = kAlphabet[(v >> 12) & 63];
        *q++ = kAlphabet[(v >> 6) & 63];
        *q++ = kAlphabet[v & 63];
    }
    if (n - i == 1) {
        const uint32_t v = uint32_t(p[i]) << 16;
        *q++ = kAlphabet[(v >> 18) & 63];
        *q++ = kAlphabet[(v >> 12) & 63];
        *q++ = '=';
        *q++ = '=';
    } else if (n - i == 2) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8);
        *q++ = kAlphabet[(v >> 18) & 63];
        *q++ = kAlphabet[(v >> 12) & 63];
        *q++ = kAlphabet[(v >> 6) & 63];
        *q++ = '=';
    }
    *q = '\0';
    *ppOut = pOut;
    *pOutLen = nOut;
    return JX_OK;
}

extern "C" JXBASE_API int32_t JXBASE64Decode(char** ppOut, int32_t* pOutLen, const char* pText, int32_t bStrict)
{
    if (ppOut == nullptr || pOutLen == nullptr || pText == nullptr) {
        return JX_ERR_ARG;
    }
    const size_t nText = strlen(pText);
    if (nText > kMaxDecodeText) {
        return JX_ERR_ARG;
    }
    size_t nDigits = 0;
    const int32_t nResult = ScanBase64(pText, nText, bStrict != 0, nDigits);
    if (nResult != JX_OK) {
        return nResult;
    }
    // Every 4 digits give 3 bytes; 2 or 3 trailing digits give 1 or 2.
    const size_t nOut = nDigits / 4 * 3 + (nDigits % 4 == 0 ? 0 : nDigits % 4 - 1);
    uint8_t* pOut = static_cast<uint8_t*>(malloc(nOut + 1));
    if (pOut == nullptr) {
        return JX_ERR_NOMEM;
    }
    uint32_t nBits = 0;
    int32_t nHeld = 0;
    size_t nDone = 0;
    for (size_t i = 0; i < nText; ++i) {
        const int32_t v = DigitValue(pText[i]);
        if (v < 0) {
            continue;   // blanks (non-strict) and padding, already checked
        }
        nBits = (nBits << 6) | static_cast<uint32_t>(v);
        nHeld += 6;
        if (nHeld >= 8) {
            nHeld -= 8;
            pOut[nDone++] = static_cast<uint8_t>((nBits >> nHeld) & 0xFF);
        }
    }
    pOut[nDone] = '\0';
    *ppOut = reinterpret_cast<char*>(pOut);
    *pOutLen = static_cast<int32_t>(nDone);
    return JX_OK;
}

extern "C" JXBASE_API int32_t JXMD5Data(const void* pData, int32_t n, char* pOut)
{
    if (pOut == nullptr || n < 0 || (pData == nullptr && n > 0)) {
        return JX_ERR_ARG;
    }
    MD5State s{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    int32_t nLeft = n;
    for (; nLeft >= kBlockBytes; nLeft -= kBlockBytes, p += kBlockBytes) {
        MD5Block(s, p);
    }
    uint8_t tail[2 * kBlockBytes];
    const int32_t nTail = PadLastBlocks(p, nLeft, static_cast<uint64_t>(n), false, tail);
    for (int32_t nAt = 0; nAt < nTail; nAt += kBlockBytes) {
        MD5Block(s, tail + nAt);
    }
    const uint32_t words[4] = {s.a, s.b, s.c, s.d};
    for (int32_t w = 0; w < 4; ++w) {
        for (int32_t i = 0; i < 4; ++i) {
            const uint8_t byte = static_cast<uint8_t>(words[w] >> (8 * i));
            pOut[(w * 4 + i) * 2] = kHexDigits[byte >> 4];
            pOut[(w * 4 + i) * 2 + 1] = kHexDigits[byte & 15];
        }
    }
    pOut[32] = '\0';
    return JX_OK;
}

extern "C" JXBASE_API int32_t JXSHA256Data(const void* pData, int32_t n, char* pOut)
{
    if (pOut == nullptr || n < 0 || (pData == nullptr && n > 0)) {
        return JX_ERR_ARG;
    }
    uint32_t h[kSHA256Words] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    const uint8_t* p = static_cast<const uint8_t*>(pData);
    int32_t nLeft = n;
    for (; nLeft >= kBlockBytes; nLeft -= kBlockBytes, p += kBlockBytes) {
        SHA256Block(h, p);
    }
    uint8_t tail[2 * kBlockBytes];
    const int32_t nTail = PadLastBlocks(p, nLeft, static_cast<uint64_t>(n), true, tail);
    for (int32_t nAt = 0; nAt < nTail; nAt += kBlockBytes) {
        SHA256Block(h, tail + nAt);
    }
    for (int32_t i = 0; i < kSHA256Words * 4; ++i) {
        const uint8_t byte = static_cast<uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
        pOut[i * 2] = kHexDigits[byte >> 4];
        pOut[i * 2 + 1] = kHexDigits[byte & 15];
    }
    pOut[JX_SHA256_HEX_SIZE - 1] = '\0';
    return JX_OK;
}
