// Every length read from a picture is checked against the bytes left before
// it is used: clips and --clip files are input like any other.
#include "jpeg_packetizer.h"

#include "JXBase.h"
#include "rtpdata.h"
#include "serve_track.h"

#include <cstring>

namespace {
const uint8_t kMarker = 0xFF;
const uint8_t kSOI = 0xD8;
const uint8_t kEOI = 0xD9;
const uint8_t kSOF0 = 0xC0;   // baseline
const uint8_t kSOF15 = 0xCF;
const uint8_t kDHT = 0xC4;
const uint8_t kJPG = 0xC8;
const uint8_t kDAC = 0xCC;
const uint8_t kRST0 = 0xD0;
const uint8_t kRST7 = 0xD7;
const uint8_t kSOS = 0xDA;
const uint8_t kDQT = 0xDB;
const uint8_t kDRI = 0xDD;
const uint8_t kTEM = 0x01;
const int kComponents = 3;
const uint8_t kPrecision = 8;
const uint8_t kSampling422 = 0x21;   // luma 2x1
const uint8_t kSampling420 = 0x22;   // luma 2x2
const uint8_t kSamplingChroma = 0x11;
const int kMaxTables = 4;
const uint32_t kBlock = 8;
const uint32_t kMaxBlocks = 255;   // the size field is 8 bits of 8-pixel units
const size_t kMainHeader = 8;
const size_t kQuantHeader = 4;
const uint8_t kQInBand = 255;
const uint32_t kMaxOffset = 0xFFFFFF;   // 24-bit fragment offset
const size_t kHuffmanCounts = kJXJpegHuffmanCounts;
const size_t kMaxHuffmanValues = 162;
const uint8_t kLumaScanTables = 0x00;     // DC 0, AC 0
const uint8_t kChromaScanTables = 0x11;   // DC 1, AC 1

// The DHT body s (n bytes): every table in it must be the standard one of its
// class and number, as the receiver rebuilds the picture with those. JX_OK, JX_ERR_CONTENT (malformed) or JX_ERR_UNSUPPORTED.
int32_t CheckHuffmanTables(const uint8_t* s, size_t n)
{
    int32_t nTables = 0;
    const JXJpegHuffmanTable* pTables = JXJpegStandardHuffman(nTables);
    for (size_t k = 0; k < n;) {
        if (k + 1 + kHuffmanCounts > n) return JX_ERR_CONTENT;
        size_t nValues = 0;
        for (size_t i = 0; i < kHuffmanCounts; ++i) nValues += s[k + 1 + i];
        if (nValues > kMaxHuffmanValues || k + 1 + kHuffmanCounts + nValues > n) return JX_ERR_CONTENT;
        const JXJpegHuffmanTable* pStandard = nullptr;
        for (int32_t t = 0; t < nTables; ++t) {
            if (pTables[t].nClassId == s[k]) pStandard = &pTables[t];
        }
        if (pStandard == nullptr || pStandard->nValues != nValues ||
            memcmp(pStandard->pCounts, s + k + 1, kHuffmanCounts) != 0 ||
            memcmp(pStandard->pValues, s + k + 1 + kHuffmanCounts, nValues) != 0)
            return JX_ERR_UNSUPPORTED;
        k += 1 + kHuffmanCounts + nValues;
    }
    return JX_OK;
}

uint16_t Be16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

bool IsStandalone(uint8_t nMarker)
{
    return nMarker == kTEM || (nMarker >= kRST0 && nMarker <= kRST7);
}

int32_t Fail(std::string& sWhy, int32_t nCode, const std::string& sText)
{
    sWhy = sText;
    return nCode;
}

// End of the entropy-coded data that starts at i: the position of the
// end-of-image marker, or n when there is none. Stuffed bytes (FF 00) and
// restart markers belong to the data.
size_t FindScanEnd(const uint8_t* p, size_t n, size_t i, bool& bOtherMarker)
{
    bOtherMarker = false;
    for (; i + 1 < n; ++i) {
        if (p[i] != kMarker) continue;
        const uint8_t m = p[i + 1];
        if (m == 0 || m == kMarker || (m >= kRST0 && m <= kRST7)) continue;
        if (m == kEOI) return i;
        bOtherMarker = true;   // a second scan: progressive or multi-scan
        return i;
    }
    return n;
}
}   // namespace

int32_t JXJpegParse(const uint8_t* p, size_t n, JXJpegInfo& info, std::string& sWhy)
{
    info = JXJpegInfo();
    if (p == nullptr || n < 4 || p[0] != kMarker || p[1] != kSOI) return Fail(sWhy, JX_ERR_CONTENT, "not a JPEG picture");
    bool bTable[kMaxTables] = {};
    uint8_t tables[kMaxTables][JXJpegInfo::kTableBytes];
    uint8_t nLumaTable = 0;
    uint8_t nChromaTable = 0;
    bool bFrame = false;
    size_t i = 2;
    for (;;) {
        while (i < n && p[i] == kMarker && i + 1 < n && p[i + 1] == kMarker) ++i;   // fill bytes
        if (i + 2 > n || p[i] != kMarker) return Fail(sWhy, JX_ERR_CONTENT, "truncated or malformed JPEG headers");
        const uint8_t m = p[i + 1];
        i += 2;
        if (IsStandalone(m)) continue;
        if (m == kSOI || m == kEOI) return Fail(sWhy, JX_ERR_CONTENT, "no picture data before the end marker");
        if (i + 2 > n) return Fail(sWhy, JX_ERR_CONTENT, "truncated JPEG headers");
        const size_t nLen = Be16(p + i);
        if (nLen < 2 || i + nLen > n) return Fail(sWhy, JX_ERR_CONTENT, "a JPEG header runs past the end");
        const uint8_t* s = p + i + 2;
        const size_t nBody = nLen - 2;
        if (m == kDQT) {
            for (size_t k = 0; k < nBody;) {
                const uint8_t nPq = s[k] >> 4;
                const uint8_t nTq = s[k] & 0x0F;
                if (nPq != 0) return Fail(sWhy, JX_ERR_UNSUPPORTED, "16-bit quantization tables");
                if (nTq >= kMaxTables || k + 1 + JXJpegInfo::kTableBytes > nBody)
                    return Fail(sWhy, JX_ERR_CONTENT, "malformed quantization table");
                memcpy(tables[nTq], s + k + 1, JXJpegInfo::kTableBytes);
                bTable[nTq] = true;
                k += 1 + JXJpegInfo::kTableBytes;
            }
        } else if (m == kSOF0) {
            const size_t kFrameBytes = 6 + 3 * kComponents;
            if (nBody < 6) return Fail(sWhy, JX_ERR_CONTENT, "malformed frame header");
            if (s[0] != kPrecision || s[5] != kComponents || nBody < kFrameBytes)
                return Fail(sWhy, JX_ERR_UNSUPPORTED, "only 8-bit pictures with 3 components (YCbCr) can be sent");
            info.nHeight = Be16(s + 1);
            info.nWidth = Be16(s + 3);
            const uint8_t* c = s + 6;
            if (c[1] == kSampling422) {
                info.nType = 0;
            } else if (c[1] == kSampling420) {
                info.nType = 1;
            } else {
                return Fail(sWhy, JX_ERR_UNSUPPORTED, "luma sampling other than 2x1 (4:2:2) or 2x2 (4:2:0)");
            }
            if (c[4] != kSamplingChroma || c[7] != kSamplingChroma)
                return Fail(sWhy, JX_ERR_UNSUPPORTED, "chroma sampling other than 1x1");
            if (c[5] != c[8]) return Fail(sWhy, JX_ERR_UNSUPPORTED, "Cb and Cr use different quantization tables");
            nLumaTable = c[2];
            nChromaTable = c[5];
            if (nLumaTable >= kMaxTables || nChromaTable >= kMaxTables)
                return Fail(sWhy, JX_ERR_CONTENT, "malformed frame header");
            bFrame = true;
        } else if (m > kSOF0 && m <= kSOF15 && m != kDHT && m != kJPG && m != kDAC) {
            return Fail(sWhy, JX_ERR_UNSUPPORTED, "not a baseline JPEG (progressive, lossless or arithmetic coded)");
        } else if (m == kDRI) {
            if (nBody < 2) return Fail(sWhy, JX_ERR_CONTENT, "malformed restart interval");
            if (Be16(s) != 0) return Fail(sWhy, JX_ERR_UNSUPPORTED, "restart intervals (DRI)");
        } else if (m == kDHT) {
            const int32_t nRet = CheckHuffmanTables(s, nBody);
            if (nRet == JX_ERR_CONTENT) return Fail(sWhy, nRet, "malformed Huffman table");
            if (nRet != JX_OK) return Fail(sWhy, nRet, "Huffman tables other than the standard ones");
        } else if (m == kSOS) {
            // One scan of the three components, luminance with tables 0 and
            // chrominance with tables 1: what the receiver assumes.
            const size_t kScanBytes = 1 + 2 * kComponents;
            if (nBody < kScanBytes || s[0] != kComponents) return Fail(sWhy, JX_ERR_UNSUPPORTED, "not one scan of 3 components");
            if (s[2] != kLumaScanTables || s[4] != kChromaScanTables || s[6] != kChromaScanTables)
                return Fail(sWhy, JX_ERR_UNSUPPORTED, "the scan uses other Huffman table numbers");
            i += nLen;
            break;
        }
        i += nLen;
    }
    if (!bFrame) return Fail(sWhy, JX_ERR_CONTENT, "no baseline frame header before the scan");
    if (!bTable[nLumaTable] || !bTable[nChromaTable]) return Fail(sWhy, JX_ERR_CONTENT, "missing quantization table");
    if (info.nWidth == 0 || info.nHeight == 0 || info.nWidth % kBlock != 0 || info.nHeight % kBlock != 0 ||
        info.nWidth > kMaxBlocks * kBlock || info.nHeight > kMaxBlocks * kBlock)
        return Fail(sWhy, JX_ERR_UNSUPPORTED,
                    "size " + std::to_string(info.nWidth) + "x" + std::to_string(info.nHeight) +
                        ": width and height must be multiples of 8 up to 2040");
    memcpy(info.luma, tables[nLumaTable], JXJpegInfo::kTableBytes);
    memcpy(info.chroma, tables[nChromaTable], JXJpegInfo::kTableBytes);
    bool bOtherMarker = false;
    const size_t nEnd = FindScanEnd(p, n, i, bOtherMarker);
    if (bOtherMarker) return Fail(sWhy, JX_ERR_UNSUPPORTED, "more than one scan");
    if (nEnd >= n) return Fail(sWhy, JX_ERR_CONTENT, "no end-of-image marker");
    if (nEnd == i) return Fail(sWhy, JX_ERR_CONTENT, "empty scan");
    if (nEnd - i > kMaxOffset) return Fail(sWhy, JX_ERR_UNSUPPORTED, "picture too large for the fragment offset");
    info.nScanOffset = i;
    info.nScanLength = nEnd - i;
    info.nPictureLength = nEnd + 2;
    return JX_OK;
}

//  main header (every packet)        quantization header (first packet)
// +--------+------------------------+  +--------+--------+---------------+
// | 0      | fragment offset (24)   |  | 0      | 0 (8b) | length = 128  |
// +--------+--------+--------+------+  +--------+--------+---------------+
// | type   | Q=255  | width/8|h/8   |  | luma table (64), chroma (64)    |
int32_t JXJpegPacketize(const JXJpegInfo& info, const uint8_t* pPicture, CRTPData& rtp, tag_RTPHDR& hdr,
                        CServeTrack& track)
{
    uint8_t head[kMainHeader + kQuantHeader + 2 * JXJpegInfo::kTableBytes];
    const uint8_t* pScan = pPicture + info.nScanOffset;
    for (size_t nPos = 0; nPos < info.nScanLength;) {
        const bool bFirst = nPos == 0;
        head[0] = 0;
        head[1] = uint8_t(nPos >> 16);
        head[2] = uint8_t(nPos >> 8);
        head[3] = uint8_t(nPos);
        head[4] = info.nType;
        head[5] = kQInBand;
        head[6] = uint8_t(info.nWidth / kBlock);
        head[7] = uint8_t(info.nHeight / kBlock);
        size_t nHead = kMainHeader;
        if (bFirst) {
            const uint16_t nTables = 2 * JXJpegInfo::kTableBytes;
            head[8] = 0;
            head[9] = 0;   // 8-bit precision for both tables
            head[10] = uint8_t(nTables >> 8);
            head[11] = uint8_t(nTables);
            memcpy(head + 12, info.luma, JXJpegInfo::kTableBytes);
            memcpy(head + 12 + JXJpegInfo::kTableBytes, info.chroma, JXJpegInfo::kTableBytes);
            nHead = sizeof(head);
        }
        const size_t nRoom = CServeTrack::kMaxPayload - nHead;
        const size_t nPart = info.nScanLength - nPos < nRoom ? info.nScanLength - nPos : nRoom;
        // The audio builder writes header and two parts as given; the marker
        // and channel are set per frame and per session afterwards.
        int32_t nRet = rtp.BuildPCMRTP(&hdr, head, uint16_t(nHead), pScan + nPos, uint16_t(nPart));
        if (nRet == JX_OK) nRet = track.AddPacket(rtp);
        if (nRet != JX_OK) return nRet;
        nPos += nPart;
    }
    return JX_OK;
}
