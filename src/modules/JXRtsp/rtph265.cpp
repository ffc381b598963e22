// H.265 depacketizer. A NAL unit header is two bytes; the type is bits 1 to 6
// of the first. The head takes a header as one 16-bit value, first byte high.
#include "rtph265.h"

#include "rtpparser.h"
#include "rtpsocket.h"

#include <cstring>
#include <new>

namespace {
const char kSourcePath[] = "src/modules/JXRtsp/rtph265";
// fmtp keys whose value is a list of parameter sets.
const char* const kSetsKeys[] = {"sprop-parameter-sets=", "sprop-vps=", "sprop-sps=", "sprop-pps="};
constexpr uint16_t kNonKey = 0;
constexpr uint16_t kKey = 1;
constexpr int32_t kHeadBytes = 2;

constexpr uint8_t kTypeShift = 1;
constexpr uint8_t kTypeMask = 0x3F;
constexpr uint8_t kLayerHighBit = 0x01;   // the layer id's top bit, in the first header byte
constexpr uint8_t kNalIDRFirst = 19;      // IDR_W_RADL
constexpr uint8_t kNalIDRLast = 20;       // IDR_N_LP
constexpr uint8_t kNalVPS = 32;
constexpr uint8_t kNalSPS = 33;
constexpr uint8_t kNalPPS = 34;
constexpr uint8_t kNalAUD = 35;
constexpr uint8_t kNalEOS = 36;
constexpr uint8_t kNalEOB = 37;
constexpr uint8_t kNalFillerFirst = 38;   // filler data and SEI
constexpr uint8_t kNalFillerLast = 40;
constexpr uint8_t kSingleLast = 40;
constexpr uint8_t kAggregate = 48;
constexpr uint8_t kFragment = 49;
constexpr uint8_t kFUStart = 0x80;
constexpr uint8_t kFUEnd = 0x40;
constexpr int32_t kFUHeadBytes = 3;   // payload header and FU header
constexpr int32_t kMinSingle = 3;     // payload header and one byte

uint8_t NalType(const uint8_t* pHeader)
{
    return (pHeader[0] >> kTypeShift) & kTypeMask;
}

// Private codec codes an a=JXFrame: line may give an H.265 stream.
constexpr uint16_t kPrivateFirst = 32;
constexpr uint16_t kPrivateLast = 47;
const CRTPNalVideo::SFormat kH265Format = {"CRTPH265",    "h265",       kHeadBytes,     JX_CODEC_H265,
                                           kPrivateFirst, kPrivateLast, JX_NAL_FLAG_VPS};
}   // namespace

CRTPH265::CRTPH265(CRTPSocket* pSocket) : CRTPNalVideo(pSocket, new (std::nothrow) CJXH265Head(), kH265Format)
{
    m_PayloadType = kDefaultPayloadType;
}

CRTPH265::~CRTPH265() = default;

void CRTPH265::SetupPiece(const char* pPiece)
{
    for (const char* pKey : kSetsKeys) {
        if (CJXString::StartsWithNoCase(pPiece, pKey)) {
            SetupSPS_PPS(pPiece + strlen(pKey));
            return;
        }
    }
}

uint16_t CRTPH265::SetFlag(const uint8_t* pHeader) const
{
    switch (NalType(pHeader)) {
    case kNalVPS:
        return JX_NAL_FLAG_VPS;
    case kNalSPS:
        return JX_NAL_FLAG_SPS;
    case kNalPPS:
        return JX_NAL_FLAG_PPS;
    default:
        return 0;
    }
}

int CRTPH265::OnRecvRTP(CRTPParser& rtp)
{
    int nResult = BeginPacket(rtp);
    if (nResult != JX_OK) {
        return nResult;
    }
    const uint8_t* p = rtp.Payload();
    const int32_t nLen = rtp.PayloadLength();
    JX_ASSERT_PTR(p, kSourcePath, "OnRecvRTP");
    if (nLen < 1) {
        return JX_ERR_CONTENT;
    }
    const uint8_t nType = NalType(p);
    if (nType <= kSingleLast) {
        if (nLen < kMinSingle) {
            return JX_ERR_ARG;   // refused before the second header byte is read
        }
        return OnRecvRTPNal(p, p + kHeadBytes, nLen - kHeadBytes);
    }
    if (nType == kAggregate) {
        return OnRecvRTP48(p, nLen);
    }
    if (nType == kFragment) {
        return OnRecvRTP49(p, nLen);
    }
    return JX_ERR_CONTENT;
}

int CRTPH265::OnRecvRTPNal(const uint8_t* pHeader, const uint8_t* pData, int nLen)
{
    if (pHeader == nullptr || pData == nullptr) {
        return JX_ERR_ARG;
    }
    return TakeNAL(pHeader, pData, nLen);
}

int32_t CRTPH265::TakeNAL(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen)
{
    if (nLen < 1) {
        return JX_ERR_ARG;
    }
    const uint8_t nType = NalType(pHeader);
    int32_t nResult = JX_OK;
    uint16_t nFrameType = kNoType;   // the frame's type once the unit is stored
    if (nType >= kNalIDRFirst && nType <= kNalIDRLast) {
        nFrameType = kKey;
    } else if (nType == kNalVPS || nType == kNalSPS || nType == kNalPPS) {
        nResult = FeedHead(pHeader, pData, nLen, SetFlag(pHeader));
    } else if (nType == kNalAUD) {
        // A new access unit: slices before it in this timestamp were a picture lost.
        ClearBuffer(m_FrameType != kNoType ? 1 : 0);
    } else if (nType == kNalEOS || nType == kNalEOB) {
        if (m_FrameType == kNoType) {
            return JX_ERR_FAIL;   // ends nothing in this frame
        }
    } else if (nType < kNalFillerFirst || nType > kNalFillerLast) {
        nFrameType = kNonKey;
    }
    if (nResult == JX_OK) {
        nResult = AppendNAL(pHeader, kHeadBytes, pData, nLen);
    }
    if (nResult == JX_OK && nFrameType != kNoType) {
        m_FrameType = nFrameType;
    }
    return nResult;
}

int CRTPH265::OnRecvRTP48(const uint8_t* pPayload, int nLen)
{
    JX_ASSERT_PTR(pPayload, kSourcePath, "OnRecvRTP48");
    if (nLen < kHeadBytes) {
        return JX_ERR_CONTENT;
    }
    return TakeAggregate(pPayload + kHeadBytes, nLen - kHeadBytes, kHeadBytes);
}

int CRTPH265::OnRecvRTP49(const uint8_t* pPayload, int nLen)
{
    JX_ASSERT_PTR(pPayload, kSourcePath, "OnRecvRTP49");
    if (nLen < kFUHeadBytes) {
        DropFrame();   // no FU header to read: a fragment of the frame is lost
        return JX_ERR_CONTENT;
    }
    const uint8_t nFU = pPayload[2];
    const bool bStart = (nFU & kFUStart) != 0;
    const bool bEnd = (nFU & kFUEnd) != 0;
    const uint8_t nType = nFU & kTypeMask;
    if (bStart && bEnd) {
        JXPrintf("CRTPH265::%s(%d)------>Error(s = %u, e = %u, type = %u, len = %d)\n", "OnRecvRTP49", __LINE__, 1u, 1u,
                 static_cast<unsigned>(nType), nLen);
        DropFrame();
        return JX_ERR_CONTENT;
    }
    const uint8_t* pData = pPayload + kFUHeadBytes;
    const int32_t nData = nLen - kFUHeadBytes;
    if (!bStart) {
        return AddFragment(pData, nData, bEnd);
    }
    // The F bit of the rebuilt header is 0, whatever the payload header held.
    const uint8_t header[kHeadBytes] = {static_cast<uint8_t>((pPayload[0] & kLayerHighBit) | (nType << kTypeShift)),
                                        pPayload[1]};
    return OpenFragment(header, pData, nData, false);
}
