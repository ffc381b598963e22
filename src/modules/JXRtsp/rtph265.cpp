// H.265 depacketizer. A NAL unit header is two bytes; the type is bits 1 to 6
// of the first. The head takes a header as one 16-bit value, first byte high.
#include "rtph265.h"

#include "rtpparser.h"
#include "rtpsocket.h"

#include <algorithm>
#include <cstdlib>
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
constexpr uint8_t kNalRADLFirst = 6;     // RADL_N: leading pictures a decoder can show
constexpr uint8_t kNalRASLFirst = 8;     // RASL_N: leading pictures that refer to pictures
constexpr uint8_t kNalRASLLast = 9;      // before their random-access point
constexpr uint8_t kNalIRAPFirst = 16;    // BLA_W_LP: BLA, IDR and CRA begin a decodable stream
constexpr uint8_t kNalIRAPLast = 21;     // CRA_NUT
constexpr uint8_t kNalSliceLast = 31;    // the last slice type (reserved ones included)
constexpr uint8_t kNoPicture = 0xFF;
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
constexpr int32_t kMinSingle = 3;     // payload header and one byte
constexpr int32_t kDonlBytes = 2;     // decoding-order number of a unit
constexpr int32_t kDondBytes = 1;     // its distance from the unit before it in an aggregation packet
constexpr int32_t kSizeField = 2;     // the size in front of each aggregated unit
const char kMaxDonDiffKey[] = "sprop-max-don-diff=";
const char kDepackNalusKey[] = "sprop-depack-buf-nalus=";

uint16_t Read16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// How far nDon lies behind or ahead of nFrom, in units: numbers wrap at 16 bits.
int32_t DonDistance(uint16_t nFrom, uint16_t nDon)
{
    return static_cast<int16_t>(static_cast<uint16_t>(nDon - nFrom));
}

// A value of an fmtp key that turns decoding-order numbers on, else -1.
long DonValue(const char* pPiece)
{
    for (const char* pKey : {kMaxDonDiffKey, kDepackNalusKey}) {
        if (CJXString::StartsWithNoCase(pPiece, pKey)) {
            return strtol(pPiece + strlen(pKey), nullptr, 10);
        }
    }
    return -1;
}

// Private codec codes an a=JXFrame: line may give an H.265 stream.
constexpr uint16_t kPrivateFirst = 32;
constexpr uint16_t kPrivateLast = 47;
const CRTPNalVideo::SFormat kH265Format = {"CRTPH265", "h265",     kHeadBytes, JX_CODEC_H265, kPrivateFirst,
                                           kPrivateLast, JX_NAL_FLAG_VPS, kTypeShift, kTypeMask, kNalVPS,
                                           kNalSPS,    kNalPPS};
}   // namespace

CRTPH265::CRTPH265(CRTPSocket* pSocket) : CRTPNalVideo(pSocket, new (std::nothrow) CJXH265Head(), kH265Format)
{
    m_PayloadType = kDefaultPayloadType;
}

CRTPH265::~CRTPH265() = default;

void CRTPH265::SetupPiece(const char* pPiece)
{
    if (DonValue(pPiece) > 0) {
        m_DonPresent = true;   // every unit then carries DONL or DOND
        return;
    }
    for (const char* pKey : kSetsKeys) {
        if (CJXString::StartsWithNoCase(pPiece, pKey)) {
            SetupSPS_PPS(pPiece + strlen(pKey));
            return;
        }
    }
}

int CRTPH265::OnRecvRTP(CRTPParser& rtp)
{
    if (m_DonRefused) {
        return JX_ERR_UNSUPPORTED;
    }
    const int32_t nResult = BeginPacket(rtp, kFragment);
    if (nResult != JX_OK) {
        return nResult;
    }
    const uint8_t* p = rtp.Payload();
    const int32_t nLen = rtp.PayloadLength();
    const uint8_t nType = NalType(p);
    if (nType <= kSingleLast) {
        if (nLen < kMinSingle) {
            return JX_ERR_ARG;   // refused before the second header byte is read
        }
        if (!m_DonPresent) {
            return OnRecvRTPNal(p, p + kHeadBytes, nLen - kHeadBytes);
        }
        if (nLen < kHeadBytes + kDonlBytes + 1) {
            DropFrame();   // a unit cut short: the frame cannot be whole
            return JX_ERR_CONTENT;
        }
        return TakeOrderedNAL(p, p + kHeadBytes + kDonlBytes, nLen - kHeadBytes - kDonlBytes, Read16(p + kHeadBytes));
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
    if (nType >= kNalIRAPFirst && nType <= kNalIRAPLast) {
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
        nResult = StoreNAL(pHeader, pData, nLen, nFrameType);
    }
    if (nResult == JX_OK && nType <= kNalSliceLast && m_PicType == kNoPicture) {
        m_PicType = nType;   // every slice of a picture has the same type
    }
    return nResult;
}

int CRTPH265::OnRecvRTP48(const uint8_t* pPayload, int nLen)
{
    JX_ASSERT_PTR(pPayload, kSourcePath, "OnRecvRTP48");
    if (nLen < kHeadBytes) {
        return JX_ERR_CONTENT;
    }
    if (m_DonPresent) {
        return OnRecvOrderedAggregate(pPayload, nLen);
    }
    return TakeAggregate(pPayload + kHeadBytes, nLen - kHeadBytes, kHeadBytes);
}

int CRTPH265::OnRecvRTP49(const uint8_t* pPayload, int nLen)
{
    JX_ASSERT_PTR(pPayload, kSourcePath, "OnRecvRTP49");
    SFUnit fu;
    if (!ReadFUnit(pPayload, nLen, fu)) {
        return JX_ERR_CONTENT;
    }
    const bool bStart = fu.bStart;
    const bool bEnd = fu.bEnd;
    const uint8_t nType = fu.nFU & kTypeMask;
    if (bStart && bEnd) {
        JXPrintf("CRTPH265::%s(%d)------>Error(s = %u, e = %u, type = %u, len = %d)\n", "OnRecvRTP49", __LINE__, 1u, 1u,
                 static_cast<unsigned>(nType), nLen);
        DropFrame();
        return JX_ERR_CONTENT;
    }
    const uint8_t* pData = fu.pData;
    const int32_t nData = fu.nData;
    if (!bStart) {
        // A numbered unit takes its place once it is whole; its start code
        // stands in front of its header.
        const bool bNumbered = m_DonPresent && IsFragmentOpen();
        const int32_t nStart = FragmentStart() - kStartCodeBytes;
        const int32_t nResult = AddFragment(pData, nData, bEnd);
        if (nResult != JX_OK || !bNumbered || IsFragmentOpen()) {
            return nResult;
        }
        return PlaceUnit(nStart, m_FragDon);
    }
    // The F bit of the rebuilt header is 0, whatever the payload header held.
    const uint8_t header[kHeadBytes] = {static_cast<uint8_t>((pPayload[0] & kLayerHighBit) | (nType << kTypeShift)),
                                        pPayload[1]};
    if (!m_DonPresent) {
        return OpenFragment(header, pData, nData, false);
    }
    // The first fragment carries the unit's DONL behind the FU header.
    if (nData < kDonlBytes + 1) {
        DropFrame();
        return JX_ERR_CONTENT;
    }
    const uint16_t nDon = Read16(pData);
    int32_t nResult = CheckDon(nDon, true);
    if (nResult == JX_OK) {
        nResult = OpenFragment(header, pData + kDonlBytes, nData - kDonlBytes, false);
    }
    if (nResult == JX_OK) {
        m_FragDon = nDon;
    }
    return nResult;
}

// The units of one aggregation packet: the first behind its DONL, each later
// one behind a DOND, its distance less one from the unit before it.
int CRTPH265::OnRecvOrderedAggregate(const uint8_t* pPayload, int nLen)
{
    int32_t nFirstError = JX_OK;
    int32_t nLeft = nLen - kHeadBytes;
    const uint8_t* p = pPayload + kHeadBytes;
    uint16_t nDon = 0;
    for (bool bFirst = true; nLeft > 0; bFirst = false) {
        const int32_t nField = bFirst ? kDonlBytes : kDondBytes;
        if (nLeft < nField + kSizeField) {
            DropFrame();   // what remains of a packet cut short
            return JX_ERR_CONTENT;
        }
        nDon = bFirst ? Read16(p) : static_cast<uint16_t>(nDon + p[0] + 1);
        const int32_t nSize = Read16(p + nField);
        p += nField + kSizeField;
        nLeft -= nField + kSizeField;
        if (nSize < kHeadBytes || nSize > nLeft) {
            DropFrame();   // a unit cut short: the frame cannot be whole
            return JX_ERR_CONTENT;
        }
        const int32_t nResult =
            nSize > kHeadBytes ? TakeOrderedNAL(p, p + kHeadBytes, nSize - kHeadBytes, nDon) : JX_ERR_ARG;
        if (nResult == JX_ERR_UNSUPPORTED) {
            return nResult;   // the stream is refused: nothing behind it is taken
        }
        if (nFirstError == JX_OK) {
            nFirstError = nResult;
        }
        p += nSize;
        nLeft -= nSize;
    }
    return nFirstError;
}

int32_t CRTPH265::CheckDon(uint16_t nDon, bool bFragment)
{
    if (!bFragment && IsFragmentOpen()) {
        DropFrame();   // the open unit's end was lost, or units were sent inside it
        return JX_ERR_CONTENT;
    }
    if (m_LastDonKnown && DonDistance(m_LastDon, nDon) <= 0) {
        // The unit goes before one of a frame already closed: the sender
        // interleaves across frames, which a frame's reordering cannot mend.
        JXPrintf("CRTPH265::%s(%d)------>Decoding order crosses frames (DON %u after %u): stream refused.\n",
                 "CheckDon", __LINE__, static_cast<unsigned>(nDon), static_cast<unsigned>(m_LastDon));
        m_DonRefused = true;
        DropFrame();
        return JX_ERR_UNSUPPORTED;
    }
    return JX_OK;
}

int32_t CRTPH265::TakeOrderedNAL(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen, uint16_t nDon)
{
    int32_t nResult = CheckDon(nDon, false);
    if (nResult == JX_OK) {
        nResult = TakeNAL(pHeader, pData, nLen);
    }
    if (nResult != JX_OK) {
        return nResult;
    }
    // Taken means stored whole at the frame's end.
    return PlaceUnit(m_Buffer.m_Length - kStartCodeBytes - kHeadBytes - nLen, nDon);
}

int32_t CRTPH265::PlaceUnit(int32_t nStart, uint16_t nDon)
{
    if (!m_FrameHasDon) {
        m_FrameHasDon = true;
        m_FrameDon = nDon;
        m_MaxRel = 0;
    }
    const int32_t nRel = DonDistance(m_FrameDon, nDon);
    const bool bInOrder = (m_UnitCount == 0 && !m_UnitsFull) || nRel >= m_MaxRel;
    if (bInOrder) {
        if (m_UnitCount < kMaxOrderedUnits) {
            m_Units[m_UnitCount++] = {nStart, nRel};
        } else {
            m_UnitsFull = true;
        }
        m_MaxRel = nRel;
        return JX_OK;
    }
    if (m_UnitsFull || m_UnitCount >= kMaxOrderedUnits) {
        JXPrintf("CRTPH265::%s(%d)------>More than %d units to reorder in a frame: dropped.\n", "PlaceUnit", __LINE__,
                 static_cast<int>(kMaxOrderedUnits));
        DropFrame();
        return JX_ERR_CONTENT;
    }
    int32_t i = m_UnitCount;
    while (i > 0 && m_Units[i - 1].nRel > nRel) {
        --i;
    }
    // The unit's bytes go in front of the units it precedes, which move up by its size.
    char* p = m_Buffer.m_Data;
    const int32_t nAt = m_Units[i].nStart;
    const int32_t nSize = m_Buffer.m_Length - nStart;
    std::rotate(p + nAt, p + nStart, p + m_Buffer.m_Length);
    for (int32_t j = m_UnitCount; j > i; --j) {
        m_Units[j] = m_Units[j - 1];
        m_Units[j].nStart += nSize;
    }
    m_Units[i] = {nAt, nRel};
    ++m_UnitCount;
    return JX_OK;
}

int CRTPH265::PackFrame()
{
    const bool bTyped = m_FrameType != kNoType;
    const uint8_t nPic = m_PicType;
    if (bTyped && m_SkipRASL && nPic >= kNalRASLFirst && nPic <= kNalRASLLast) {
        ClearBuffer(0);   // refers to pictures from before the point the stream resumed at
        return JX_OK;
    }
    const bool bKey = m_FrameType == kKey;
    const bool bWaited = m_WaitKey != 0;
    const int nResult = CRTPNalVideo::PackFrame();
    if (bKey) {
        // Resumed here: the leading pictures that refer to earlier ones cannot
        // be decoded. Reached in the stream's course they can, and are kept.
        m_SkipRASL = bWaited && m_WaitKey == 0;
    } else if (bTyped && (nPic < kNalRADLFirst || nPic > kNalRASLLast)) {
        m_SkipRASL = false;   // a trailing picture ends the leading ones
    }
    return nResult;
}

void CRTPH265::OnFrameReset(bool bLost)
{
    CRTPNalVideo::OnFrameReset(bLost);
    if (m_FrameHasDon) {
        m_LastDon = static_cast<uint16_t>(m_FrameDon + m_MaxRel);
        m_LastDonKnown = true;
    }
    m_FrameHasDon = false;
    m_FrameDon = 0;
    m_MaxRel = 0;
    m_UnitCount = 0;
    m_UnitsFull = false;
    m_PicType = kNoPicture;
}

int32_t CRTPH265::CheckInvariants() const
{
    int32_t nResult = CRTPNalVideo::CheckInvariants();
    if (nResult != JX_OK) {
        return nResult;
    }
    const char* pBroken = nullptr;
    if (m_UnitCount < 0 || m_UnitCount > kMaxOrderedUnits || (m_UnitCount > 0 && !m_FrameHasDon)) {
        pBroken = "ordered unit count out of range";
    } else if (m_DonRefused && !IsBufferEmpty()) {
        pBroken = "a refused stream gathers a frame";
    }
    int32_t nPrevStart = -1;
    for (int32_t i = 0; pBroken == nullptr && i < m_UnitCount; ++i) {
        const SUnit& unit = m_Units[i];
        if (unit.nStart <= nPrevStart || unit.nStart + kStartCodeBytes + kHeadBytes > m_Buffer.m_Length ||
            memcmp(m_Buffer.m_Data + unit.nStart, kStartCode, kStartCodeBytes) != 0) {
            pBroken = "an ordered unit not behind a start code in the frame";
        } else if (unit.nRel > m_MaxRel || (i > 0 && unit.nRel < m_Units[i - 1].nRel)) {
            pBroken = "ordered units out of decoding order";
        }
        nPrevStart = unit.nStart;
    }
    // The base sees the open fragment inside the frame; here it must follow the
    // ordered units (none is placed while it is open).
    if (pBroken == nullptr && IsFragmentOpen() && FragmentStart() - kStartCodeBytes <= nPrevStart) {
        pBroken = "the open fragment does not follow the ordered units";
    }
    if (pBroken != nullptr) {
        JXPrintf("%s: invariant broken: %s\n", m_Format.pName, pBroken);
        return JX_ERR_STATE;
    }
    return JX_OK;
}
