// JPEG depacketizer. RTP/JPEG sends no JPEG headers: the first fragment of a
// picture gets a rebuilt header (JFIF, restart interval, quantization tables
// in-band or scaled from Q, frame header, the standard Huffman tables, scan
// header) written straight into the frame buffer, so its size follows the
// actual tables and nothing is copied through a fixed work area. Fragments are
// taken only in order of their offsets; a picture is handed on only when whole.
#include "rtpmjpeg.h"

#include "rtpparser.h"
#include "rtpsocket.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kEOI = 0xD9;
constexpr uint8_t kRestartTypes = 64;    // types 64 to 127 carry a restart marker header
constexpr uint8_t kDynamicTypes = 128;   // types from 128 on are defined out of band
constexpr uint8_t kTypeBits = 0x3F;
constexpr uint8_t kMaxBaseType = 1;      // 0: 4:2:2, 1: 4:2:0
constexpr uint8_t kInBandQ = 128;        // Q from 128 on: tables in the first fragment
constexpr uint32_t kMaxScaledQ = 99;
constexpr uint32_t kHalfQ = 50;
constexpr uint32_t kFullScale = 5000;
constexpr uint32_t kPercent = 100;
constexpr uint32_t kMaxEntry = 255;
constexpr uint16_t kSizeUnit = 8;        // the header gives width and height in blocks of 8
constexpr uint16_t kSizeOfZero = 2048;   // a size byte of 0 without a size from the SDP
constexpr uint32_t kMaxFragmentOffset = 0xFFFFFF;
constexpr uint8_t kHuffmanSegmentBase = 19;   // length field, class/id byte and the 16 counts
const char kDimensionsKey[] = "x-dimensions";

// ITU-T T.81 Annex K tables K.1 (luminance) then K.2 (chrominance), in
// zig-zag order as a DQT segment carries them: what Q 50 stands for.
const uint8_t kBaseTables[2 * CRTPMJPEG::kTableBytes] = {
    0x10, 0x0b, 0x0c, 0x0e, 0x0c, 0x0a, 0x10, 0x0e, 0x0d, 0x0e, 0x12, 0x11, 0x10, 0x13, 0x18, 0x28,
    0x1a, 0x18, 0x16, 0x16, 0x18, 0x31, 0x23, 0x25, 0x1d, 0x28, 0x3a, 0x33, 0x3d, 0x3c, 0x39, 0x33,
    0x38, 0x37, 0x40, 0x48, 0x5c, 0x4e, 0x40, 0x44, 0x57, 0x45, 0x37, 0x38, 0x50, 0x6d, 0x51, 0x57,
    0x5f, 0x62, 0x67, 0x68, 0x67, 0x3e, 0x4d, 0x71, 0x79, 0x70, 0x64, 0x78, 0x5c, 0x65, 0x67, 0x63,
    0x11, 0x12, 0x12, 0x18, 0x15, 0x18, 0x2f, 0x1a, 0x1a, 0x2f, 0x63, 0x42, 0x38, 0x42, 0x63, 0x63,
    0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63,
    0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63,
    0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63, 0x63,
};
// SOI, then APP0: JFIF 1.1, no units, density 1:1, no thumbnail.
const uint8_t kStartOfImage[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
                                 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
// Three components, each with its DC and AC tables, the whole spectrum.
const uint8_t kStartOfScan[] = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
const uint8_t kEndOfImage[] = {kMarker, kEOI};

uint32_t Read16(const uint8_t* p)
{
    return (static_cast<uint32_t>(p[0]) << 8) | p[1];
}

uint16_t SizeFromByte(uint8_t nByte, uint16_t nFromSdp)
{
    if (nByte != 0) {
        return static_cast<uint16_t>(nByte * kSizeUnit);
    }
    return nFromSdp != 0 ? nFromSdp : kSizeOfZero;
}

// The base tables scaled for Q below 128 (Q from 100 on counts as 99).
void ComputeTables(uint8_t nQ, uint8_t* pOut)
{
    const uint32_t q = nQ > kMaxScaledQ ? kMaxScaledQ : nQ;
    const uint32_t nScale = q == 0 ? kFullScale : q < kHalfQ ? kFullScale / q : 2 * (kPercent - q);
    for (uint32_t i = 0; i < sizeof(kBaseTables); ++i) {
        uint32_t v = (kBaseTables[i] * nScale + kHalfQ) / kPercent;
        v = v < 1 ? 1 : v > kMaxEntry ? kMaxEntry : v;
        pOut[i] = static_cast<uint8_t>(v);
    }
}

// The value behind "x-dimensions" and '=' or ':' as two numbers "W,H".
bool ParseDimensions(const char* pText, uint16_t& nWidth, uint16_t& nHeight)
{
    const char* p = strstr(pText, kDimensionsKey);
    if (p == nullptr) {
        return false;
    }
    p += sizeof(kDimensionsKey) - 1;
    if (*p != '=' && *p != ':') {
        return false;
    }
    char* pEnd = nullptr;
    const unsigned long w = strtoul(p + 1, &pEnd, 10);
    if (pEnd == p + 1 || *pEnd != ',') {
        return false;
    }
    const char* pHeight = pEnd + 1;
    const unsigned long h = strtoul(pHeight, &pEnd, 10);
    if (pEnd == pHeight || w == 0 || h == 0 || w > UINT16_MAX || h > UINT16_MAX) {
        return false;
    }
    nWidth = static_cast<uint16_t>(w);
    nHeight = static_cast<uint16_t>(h);
    return true;
}
}   // namespace

CRTPMJPEG::CRTPMJPEG(CRTPSocket* pSocket) : CRTPMediaVideo(pSocket)
{
    m_PayloadType = kDefaultPayloadType;
}

CRTPMJPEG::~CRTPMJPEG() = default;

int CRTPMJPEG::Setup(const char* pText)
{
    if (pText == nullptr) {
        return JX_ERR_ARG;
    }
    return ParseDimensions(pText, m_SdpWidth, m_SdpHeight) ? JX_OK : JX_ERR_UNSUPPORTED;
}

int CRTPMJPEG::OnRecvRTP(CRTPParser& rtp)
{
    int nResult = CRTPMediaVideo::OnRecvRTP(rtp);
    if (nResult != 0) {
        return nResult;
    }
    m_StreamMarks = m_StreamMarks || rtp.m_Marker != 0;
    nResult = InputJpegData(rtp.Payload(), static_cast<uint32_t>(rtp.PayloadLength()));
    if (nResult == JX_OK) {
        m_LastMarked = rtp.m_Marker != 0;
    }
    return nResult;
}

int CRTPMJPEG::InputJpegData(const uint8_t* pData, uint32_t nLen)
{
    if (pData == nullptr || nLen < kMainHeader) {
        return Refuse();
    }
    const uint32_t nOffset = (static_cast<uint32_t>(pData[1]) << 16) | Read16(pData + 2);
    const uint8_t nType = pData[4];
    if (nType >= kDynamicTypes || (nType & kTypeBits) > kMaxBaseType) {
        return Refuse();   // a sampling this header cannot describe
    }
    uint32_t nPos = kMainHeader;
    uint16_t nRestart = 0;
    if (nType >= kRestartTypes) {
        if (nLen < kMainHeader + kRestartHeader) {
            return Refuse();
        }
        nRestart = static_cast<uint16_t>(Read16(pData + nPos));
        nPos += kRestartHeader;
    }
    if (nOffset != 0) {
        if (IsBufferEmpty()) {
            return JX_ERR_FAIL;   // the rest of a picture whose start was lost or refused
        }
        if (nOffset != m_NextOffset) {
            return Refuse();
        }
        return AppendScan(pData + nPos, nLen - nPos) == JX_OK ? JX_OK : JX_ERR_FAIL;
    }
    if (!IsBufferEmpty()) {
        // A new picture under the same timestamp: the one gathered ends here.
        PackFrame();
        ClearBuffer(0);
    }
    return StartPicture(pData, nLen, nPos, nType, nRestart);
}

int CRTPMJPEG::StartPicture(const uint8_t* pData, uint32_t nLen, uint32_t nPos, uint8_t nType, uint16_t nRestart)
{
    const uint8_t nQ = pData[5];
    const uint8_t* pTables = nullptr;
    uint32_t nTables = 0;
    if (nQ >= kInBandQ) {
        if (nLen - nPos < kTableHeader) {
            return Refuse();
        }
        const uint8_t nMBZ = pData[nPos];
        const uint8_t nPrecision = pData[nPos + 1];
        nTables = Read16(pData + nPos + 2);
        nPos += kTableHeader;
        if (nMBZ != 0 || nTables > nLen - nPos) {
            return Refuse();
        }
        // Only whole 8-bit tables, one (shared) or two: anything else would
        // give the decoder tables that are not the sender's.
        if (nTables != 0 && (nPrecision != 0 || (nTables != kTableBytes && nTables != 2 * kTableBytes))) {
            return Refuse();
        }
        pTables = nTables != 0 ? pData + nPos : nullptr;
        nPos += nTables;
    }
    uint8_t aComputed[sizeof(kBaseTables)];
    if (pTables == nullptr) {
        ComputeTables(nQ, aComputed);
        pTables = aComputed;
        nTables = sizeof(aComputed);
    }
    m_Width = SizeFromByte(pData[6], m_SdpWidth);
    m_Height = SizeFromByte(pData[7], m_SdpHeight);
    if (AppendHeader(nType, nRestart, pTables, nTables) != JX_OK) {
        ClearBuffer(1);
        return JX_ERR_FAIL;
    }
    m_HeaderBytes = static_cast<uint32_t>(m_Buffer.m_Length);
    return AppendScan(pData + nPos, nLen - nPos) == JX_OK ? JX_OK : JX_ERR_FAIL;
}

int32_t CRTPMJPEG::AppendHeader(uint8_t nType, uint16_t nRestart, const uint8_t* pTables, uint32_t nTables)
{
    int32_t nResult = AppendFrame(kStartOfImage, sizeof(kStartOfImage));
    if (nResult == JX_OK && nRestart != 0) {
        const uint8_t aDRI[] = {kMarker, 0xDD, 0x00, 0x04, static_cast<uint8_t>(nRestart >> 8),
                                static_cast<uint8_t>(nRestart)};
        nResult = AppendFrame(aDRI, sizeof(aDRI));
    }
    // More than one table's bytes: the first half is table 0 (luminance), the rest table 1.
    const uint32_t nSegments = nTables > kTableBytes ? 2 : 1;
    const uint32_t nFirst = nSegments == 2 ? nTables / 2 : nTables;
    for (uint32_t i = 0; nResult == JX_OK && i < nSegments; ++i) {
        const uint32_t nBytes = i == 0 ? nFirst : nTables - nFirst;
        const uint8_t aDQT[] = {kMarker, 0xDB, 0x00, static_cast<uint8_t>(nBytes + 3), static_cast<uint8_t>(i)};
        nResult = AppendFrame(aDQT, sizeof(aDQT));
        if (nResult == JX_OK) {
            nResult = AppendFrame(pTables + (i == 0 ? 0 : nFirst), static_cast<int32_t>(nBytes));
        }
    }
    const uint8_t nChromaTable = nSegments == 2 ? 1 : 0;
    const uint8_t nLumaSampling = (nType & 1) != 0 ? 0x22 : 0x21;
    const uint8_t aSOF[] = {kMarker, 0xC0, 0x00, 0x11, 0x08,
                            static_cast<uint8_t>(m_Height >> 8), static_cast<uint8_t>(m_Height),
                            static_cast<uint8_t>(m_Width >> 8), static_cast<uint8_t>(m_Width), 0x03,
                            0x01, nLumaSampling, 0x00, 0x02, 0x11, nChromaTable, 0x03, 0x11, nChromaTable};
    if (nResult == JX_OK) {
        nResult = AppendFrame(aSOF, sizeof(aSOF));
    }
    int32_t nHuffman = 0;
    const JXJpegHuffmanTable* pHuffman = JXJpegStandardHuffman(nHuffman);
    for (int32_t i = 0; i < nHuffman; ++i) {
        const JXJpegHuffmanTable& table = pHuffman[i];
        const uint8_t aDHT[] = {kMarker, 0xC4, 0x00, static_cast<uint8_t>(table.nValues + kHuffmanSegmentBase),
                                table.nClassId};
        if (nResult == JX_OK) {
            nResult = AppendFrame(aDHT, sizeof(aDHT));
        }
        if (nResult == JX_OK) {
            nResult = AppendFrame(table.pCounts, kJXJpegHuffmanCounts);
        }
        if (nResult == JX_OK) {
            nResult = AppendFrame(table.pValues, table.nValues);
        }
    }
    return nResult == JX_OK ? AppendFrame(kStartOfScan, sizeof(kStartOfScan)) : nResult;
}

int32_t CRTPMJPEG::AppendScan(const uint8_t* pData, uint32_t nLen)
{
    if (nLen > kMaxFragmentOffset - m_NextOffset) {
        ClearBuffer(1);   // no later fragment could name its offset
        return JX_ERR_CONTENT;
    }
    const int32_t nResult = AppendFrame(pData, static_cast<int32_t>(nLen));
    if (nResult == JX_OK) {
        m_NextOffset += nLen;
    }
    return nResult;   // a refused append dropped the picture
}

int CRTPMJPEG::Refuse()
{
    if (!IsBufferEmpty()) {
        JXPrintf("CRTPMJPEG::%s(%d)---------->Error.\n", "InputJpegData", __LINE__);
        ClearBuffer(1);
    }
    return JX_ERR_FAIL;
}

bool CRTPMJPEG::EndsWithEOI() const
{
    if (IsBufferEmpty() || m_NextOffset < sizeof(kEndOfImage)) {
        return false;
    }
    const uint8_t* pEnd = reinterpret_cast<const uint8_t*>(m_Buffer.m_Data) + m_Buffer.m_Length;
    return pEnd[-2] == kMarker && pEnd[-1] == kEOI;
}

int32_t CRTPMJPEG::EndInputJpegData()
{
    return EndsWithEOI() ? JX_OK : AppendFrame(kEndOfImage, sizeof(kEndOfImage));
}

int CRTPMJPEG::PackFrame()
{
    if (IsBufferEmpty()) {
        return JX_ERR_STATE;
    }
    // A stream that marks its last fragments shows a lost end by the missing
    // mark; one that never marks can only be trusted.
    if (m_StreamMarks && !m_LastMarked && !EndsWithEOI()) {
        JXPrintf("CRTPMJPEG::%s(%d)---------->Picture without its end dropped.\n", "PackFrame", __LINE__);
        ClearBuffer(1);
        return JX_ERR_CONTENT;
    }
    const int32_t nResult = EndInputJpegData();
    if (nResult != JX_OK) {
        return nResult;
    }
    return DeliverFrame(JX_FRAME_JPEG, JX_CODEC_JPEG, m_Width, m_Height);
}

void CRTPMJPEG::OnFrameReset(bool /*bLost*/)
{
    m_NextOffset = 0;
    m_HeaderBytes = 0;
    m_LastMarked = false;
}

int32_t CRTPMJPEG::CheckInvariants() const
{
    const int32_t nResult = CRTPMediaVideo::CheckInvariants();
    if (nResult != JX_OK) {
        return nResult;
    }
    const char* pBroken = nullptr;
    if (IsBufferEmpty()) {
        pBroken = m_NextOffset != 0 || m_HeaderBytes != 0 || m_LastMarked ? "picture state without a picture" : nullptr;
    } else if (static_cast<uint32_t>(m_Buffer.m_Length) != m_HeaderBytes + m_NextOffset) {
        pBroken = "picture length is not header plus fragments";
    } else if (m_HeaderBytes < sizeof(kStartOfImage) + sizeof(kStartOfScan) || static_cast<uint8_t>(m_Buffer.m_Data[0]) != kMarker) {
        pBroken = "picture does not start with a header";
    } else if (m_NextOffset > kMaxFragmentOffset) {
        pBroken = "fragments beyond the largest offset";
    }
    if (pBroken == nullptr) {
        return JX_OK;
    }
    JXPrintf("jpeg: invariant broken: %s\n", pBroken);
    return JX_ERR_STATE;
}
