// H.264 depacketizer and the part it shares with H.265. Every length comes
// from the packet and is checked against what remains before a byte is read;
// NAL units go once into the stream's reusable frame buffer.
#include "rtph264.h"

#include "rtpparser.h"
#include "rtpsocket.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
const char kSourcePath[] = "src/modules/JXRtsp/rtph264";
const char kLevelKey[] = "profile-level-id=%x";
const char kModeKey[] = "packetization-mode=%d";
const char kSetsKey[] = "sprop-parameter-sets=";
constexpr uint16_t kNonKey = 0;
constexpr uint16_t kKey = 1;

// H.264 NAL unit types and payload header fields.
constexpr uint8_t kTypeShift = 0;
constexpr uint8_t kTypeMask = 0x1F;
constexpr uint8_t kNriMask = 0xE0;
constexpr uint8_t kNalSlice = 1;
constexpr uint8_t kNalIDR = 5;
constexpr uint8_t kNalSPS = 7;
constexpr uint8_t kNalPPS = 8;
constexpr uint8_t kNalAUD = 9;
constexpr uint8_t kSingleLast = 23;
constexpr uint8_t kSTAPA = 24;
constexpr uint8_t kSTAPB = 25;
constexpr uint8_t kMTAP16 = 26;
constexpr uint8_t kMTAP24 = 27;
constexpr uint8_t kFUA = 28;
constexpr uint8_t kFUStart = 0x80;
constexpr uint8_t kFUEnd = 0x40;
constexpr uint8_t kFUReserved = 0x20;
constexpr int32_t kSTAPBHeadBytes = 3;   // payload header and decoding order number

}   // namespace

// ---------------------------------------------------------------------------
// CRTPNalVideo

CRTPNalVideo::CRTPNalVideo(CRTPSocket* pSocket, CJXVideoHead* pHead, const SFormat& format)
    : CRTPMediaVideo(pSocket), m_Format(format)
{
    m_Head = pHead;
}

CRTPNalVideo::~CRTPNalVideo()
{
    if (m_Head != nullptr) {
        m_Head->Release();
        m_Head = nullptr;
    }
}

void CRTPNalVideo::LogError(const char* pFunc, int nLine) const
{
    JXPrintf("%s::%s(%d)---------->Error.\n", m_Format.pName, pFunc, nLine);
}

int CRTPNalVideo::Setup(const char* pText)
{
    const char* p = CJXString::TrimL(pText);
    if (CJXString::IsEmpty(p)) {
        return JX_OK;
    }
    while (*p != '\0') {
        const char* pEnd = strchr(p, ';');
        const size_t nPiece = pEnd != nullptr ? static_cast<size_t>(pEnd - p) : strlen(p);
        char* pCopy = nPiece > 0 ? CJXString::Clone(p, static_cast<int32_t>(nPiece)) : nullptr;
        if (pCopy != nullptr) {
            // A line end or blank behind a value would spoil its Base64.
            for (size_t n = strlen(pCopy); n > 0 && CJXString::IsBlank(pCopy[n - 1]); --n) {
                pCopy[n - 1] = '\0';
            }
            const char* pPiece = CJXString::TrimL(pCopy);
            unsigned int nLevel = 0;
            int nMode = 0;
            if (sscanf(pPiece, kLevelKey, &nLevel) == 1) {
                m_ProfileLevelId = nLevel;
            } else if (sscanf(pPiece, kModeKey, &nMode) == 1) {
                m_PacketMode = static_cast<uint16_t>(nMode);
            } else {
                SetupPiece(pPiece);
            }
            free(pCopy);
        }
        if (pEnd == nullptr) {
            break;
        }
        p = pEnd + 1;
    }
    return JX_OK;
}

// Every comma parts two sets: a value that lists three (H.265's VPS, SPS and
// PPS, or two PPS) loses none of them.
int CRTPNalVideo::SetupSPS_PPS(const char* pText)
{
    if (CJXString::IsEmpty(pText) || CJXString::StartsWithNoCase(pText, m_Format.pSetsTag)) {
        return JX_ERR_ARG;
    }
    char* pCopy = CJXString::Clone(pText);
    if (pCopy == nullptr) {
        return JX_ERR_NOMEM;
    }
    for (char* pPiece = pCopy; pPiece != nullptr;) {
        char* pComma = strchr(pPiece, ',');
        if (pComma != nullptr) {
            *pComma = '\0';
        }
        char* pSet = nullptr;
        int32_t nSet = 0;
        // A set shorter than its header plus one byte is nothing the head can take.
        if (JXBASE64Decode(&pSet, &nSet, pPiece, 1) == JX_OK && nSet > m_Format.nHeadBytes && m_Head != nullptr) {
            const uint8_t* pBytes = reinterpret_cast<const uint8_t*>(pSet);
            const uint16_t nHeader = m_Format.nHeadBytes == 1 ? pBytes[0] : (pBytes[0] << 8) | pBytes[1];
            m_Head->SetNAL(nHeader, pBytes + m_Format.nHeadBytes, nSet - m_Format.nHeadBytes);
        }
        free(pSet);
        pPiece = pComma != nullptr ? pComma + 1 : nullptr;
    }
    free(pCopy);
    return JX_OK;
}

int32_t CRTPNalVideo::BeginPacket(CRTPParser& rtp, uint8_t nFragmentType)
{
    const bool bOurs = rtp.m_PayloadType == m_PayloadType && rtp.m_SSRC == m_SSRC;
    const bool bBoundaryLoss =
        m_SeqKnown && bOurs && rtp.m_TimeStamp != m_TimeStamp && rtp.m_SeqNo != static_cast<uint16_t>(m_SeqNo + 1);
    if (bBoundaryLoss) {
        ClearBuffer(1);   // the last frame may have lost its end: not packed
    }
    int32_t nResult = CRTPMediaVideo::OnRecvRTP(rtp);
    m_SeqKnown = m_SeqKnown || (rtp.m_PayloadType == m_PayloadType && rtp.m_SSRC == m_SSRC);
    if (nResult != JX_OK) {
        return nResult;
    }
    if (bBoundaryLoss) {
        DropFrame();   // and this one its start
        return JX_ERR_CONTENT;
    }
    MarkFrame(rtp);
    const uint8_t* p = rtp.Payload();
    JX_ASSERT_PTR(p, kSourcePath, "BeginPacket");
    if (rtp.PayloadLength() < 1) {
        return JX_ERR_CONTENT;
    }
    if (NalType(p) != nFragmentType && DropInsideFragment()) {
        return JX_ERR_CONTENT;
    }
    return JX_OK;
}

void CRTPNalVideo::MarkFrame(const CRTPParser& rtp)
{
    if (rtp.m_Extension == 0 || m_Socket->m_MarkEnabled == 0) {
        return;
    }
    if (rtp.m_ExtProfile == m_Socket->m_VI) {
        m_FrameMark = kMarkVI;
    } else if (rtp.m_ExtProfile == m_Socket->m_PB) {
        m_FrameMark = kMarkPB;
    }
}

uint16_t CRTPNalVideo::SetFlag(const uint8_t* pHeader) const
{
    const uint8_t nType = NalType(pHeader);
    if (nType == m_Format.nTypeVPS) return JX_NAL_FLAG_VPS;
    if (nType == m_Format.nTypeSPS) return JX_NAL_FLAG_SPS;
    if (nType == m_Format.nTypePPS) return JX_NAL_FLAG_PPS;
    return 0;
}

bool CRTPNalVideo::DropInsideFragment()
{
    if (!IsFragmentOpen()) {
        return false;
    }
    DropFrame();
    return true;
}

int32_t CRTPNalVideo::FeedHead(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen, uint16_t nFlag)
{
    const uint16_t nHeader = m_Format.nHeadBytes == 1 ? pHeader[0] : (pHeader[0] << 8) | pHeader[1];
    const int32_t nResult = m_Head != nullptr ? m_Head->SetNAL(nHeader, pData, nLen) : JX_ERR_NOMEM;
    if (nResult != JX_OK) {
        LogError("FeedHead", __LINE__);
        DropFrame();
        return nResult;
    }
    m_NalFlags |= nFlag;
    return JX_OK;
}

int32_t CRTPNalVideo::OpenFragment(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen, bool bEnd)
{
    if (IsFragmentOpen()) {
        DropFrame();   // the open unit's end was lost
        return JX_ERR_CONTENT;
    }
    if (nLen < 1) {
        // Nothing behind the FU header: dropped, so its later fragments find no
        // unit open and can never be appended to another one.
        return JX_ERR_CONTENT;
    }
    if (bEnd) {
        return TakeNAL(pHeader, pData, nLen);
    }
    // A parameter set goes to the head whole, once its last fragment is in.
    const uint16_t nSet = SetFlag(pHeader);
    const int32_t nResult =
        nSet != 0 ? AppendNAL(pHeader, m_Format.nHeadBytes, pData, nLen) : TakeNAL(pHeader, pData, nLen);
    if (nResult != JX_OK) {
        return nResult;
    }
    m_Fragment = {m_Buffer.m_Length - m_Format.nHeadBytes - nLen, nSet};
    m_NalFlags |= kNalFragmentOpen;
    return JX_OK;
}

int32_t CRTPNalVideo::AddFragment(const uint8_t* pData, int32_t nLen, bool bEnd)
{
    if (!IsFragmentOpen()) {
        DropFrame();   // its start was lost
        return JX_ERR_CONTENT;
    }
    int32_t nResult = AppendFrame(pData, nLen);
    if (nResult != JX_OK || !bEnd) {
        return nResult;
    }
    m_NalFlags &= static_cast<uint16_t>(~kNalFragmentOpen);
    if (m_Fragment.nSet == 0) {
        return JX_OK;
    }
    const int32_t nStart = m_Fragment.nStart;
    const uint8_t* pUnit = reinterpret_cast<const uint8_t*>(m_Buffer.m_Data) + nStart;
    return FeedHead(pUnit, pUnit + m_Format.nHeadBytes, m_Buffer.m_Length - nStart - m_Format.nHeadBytes,
                    m_Fragment.nSet);
}

bool CRTPNalVideo::ReadFUnit(const uint8_t* pPayload, int32_t nLen, SFUnit& out)
{
    const int32_t nHead = m_Format.nHeadBytes + 1;   // payload header and FU header
    if (nLen < nHead) {
        DropFrame();   // no FU header to read: a fragment of the frame is lost
        return false;
    }
    const uint8_t nFU = pPayload[m_Format.nHeadBytes];
    out = {nFU, (nFU & kFUStart) != 0, (nFU & kFUEnd) != 0, pPayload + nHead, nLen - nHead};
    return true;
}

int32_t CRTPNalVideo::StoreNAL(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen, uint16_t nFrameType)
{
    const int32_t nResult = AppendNAL(pHeader, m_Format.nHeadBytes, pData, nLen);
    if (nResult == JX_OK && nFrameType != kNoType) {
        m_FrameType = nFrameType;
    }
    return nResult;
}

// A unit refused is left out and the next one taken, so that no unit behind
// it is lost; the first refusal is the result.
int32_t CRTPNalVideo::TakeAggregate(const uint8_t* pUnits, int32_t nLen, int32_t nMinSize)
{
    int32_t nFirstError = JX_OK;
    int32_t nLeft = nLen;
    const uint8_t* p = pUnits;
    while (nLeft > 0) {
        // Every byte belongs to a unit: bytes left over that do not make one
        // are what remains of a packet cut short.
        const int32_t nSize = nLeft >= kSizeBytes ? (p[0] << 8) | p[1] : 0;
        if (nSize < nMinSize || nSize + kSizeBytes > nLeft) {
            DropFrame();   // a unit cut short: the frame cannot be whole
            return JX_ERR_CONTENT;
        }
        const uint8_t* pUnit = p + kSizeBytes;
        const int32_t nResult = TakeNAL(pUnit, pUnit + m_Format.nHeadBytes, nSize - m_Format.nHeadBytes);
        if (nFirstError == JX_OK) {
            nFirstError = nResult;
        }
        p += nSize + kSizeBytes;
        nLeft -= nSize + kSizeBytes;
    }
    return nFirstError;
}

int CRTPNalVideo::PackFrame()
{
    if (m_FrameType == kNoType) {
        ClearBuffer(1);   // no slice: nothing a decoder could show
        return JX_OK;
    }
    if (IsFragmentOpen()) {
        ClearBuffer(1);
        LogError("PackFrame", __LINE__);
        return JX_ERR_CONTENT;
    }
    if (m_Head == nullptr || !m_Head->IsReady()) {
        ClearBuffer(1);
        LogError("PackFrame", __LINE__);
        return JX_ERR_STATE;
    }
    if (!CheckWaitKey()) {
        return JX_OK;
    }
    const bool bKey = m_FrameType == kKey;
    const uint8_t nType = static_cast<uint8_t>(m_FrameMark != kNoType ? m_FrameMark : m_FrameType);
    const uint16_t nPrivate = m_Socket->m_Codec;
    const uint8_t nCodec = nPrivate >= m_Format.nPrivateFirst && nPrivate <= m_Format.nPrivateLast
                               ? static_cast<uint8_t>(nPrivate)
                               : m_Format.nCodec;
    // The head's sets are left out only when every one it holds came in-band.
    // Otherwise it writes them all, so that no set precedes one it depends on
    // (a PPS before the new SPS of a changed picture size would be read
    // against the old one); a repeated identical set is harmless.
    // A frame joined part-way may hold a PPS before the SPS it depends on:
    // then the head's sets go in front too.
    const uint16_t nFlags = m_Head->GetHeadSize(m_NalFlags) == 0 && SetsLeadFrame() ? m_NalFlags : 0;
    const int32_t nResult =
        DeliverFrame(nType, nCodec, m_Head->m_Width, m_Head->m_Height, bKey ? m_Head : nullptr, nFlags);
    m_FrameMark = kNoType;
    return nResult;
}

bool CRTPNalVideo::SetsLeadFrame() const
{
    // Sets lead a frame (behind a delimiter or SEI): a bounded look suffices.
    constexpr int32_t kLeadScanBytes = 1024;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(m_Buffer.m_Data);
    const int32_t nEnd = m_Buffer.m_Length < kLeadScanBytes ? m_Buffer.m_Length : kLeadScanBytes;
    for (int32_t i = 0; i + kStartCodeBytes + m_Format.nHeadBytes <= nEnd; ++i) {
        if (memcmp(p + i, kStartCode, kStartCodeBytes) != 0) continue;
        const uint16_t nFlag = SetFlag(p + i + kStartCodeBytes);
        if (nFlag != 0) return nFlag == m_Format.nLeadSet;
        i += kStartCodeBytes - 1;
    }
    return false;
}

int32_t CRTPNalVideo::CheckInvariants() const
{
    int32_t nResult = CRTPMediaVideo::CheckInvariants();
    if (nResult != JX_OK) {
        return nResult;
    }
    const char* pWho = m_Format.pName;
    if (!IsBufferEmpty() &&
        (m_Buffer.m_Length < kStartCodeBytes || memcmp(m_Buffer.m_Data, kStartCode, kStartCodeBytes) != 0)) {
        JXPrintf("%s: invariant broken: %s\n", pWho, "frame does not begin with a start code");
        return JX_ERR_STATE;
    }
    if (m_FrameType != kNoType && IsBufferEmpty()) {
        JXPrintf("%s: invariant broken: %s\n", pWho, "a frame typed by a slice holds nothing");
        return JX_ERR_STATE;
    }
    const int32_t nFrag = m_Fragment.nStart;
    if (IsFragmentOpen() && (nFrag < kStartCodeBytes || nFrag + m_Format.nHeadBytes > m_Buffer.m_Length ||
                             memcmp(m_Buffer.m_Data + nFrag - kStartCodeBytes, kStartCode, kStartCodeBytes) != 0)) {
        JXPrintf("%s: invariant broken: %s\n", pWho, "open fragment not behind a start code in the frame");
        return JX_ERR_STATE;
    }
    return JX_OK;
}

// ---------------------------------------------------------------------------
// CRTPH264

namespace {
// Private codec codes an a=JXFrame: line may give an H.264 stream.
constexpr uint16_t kPrivateFirst = 16;
constexpr uint16_t kPrivateLast = 31;
const CRTPNalVideo::SFormat kH264Format = {
    "CRTPH264", "h264",     1,       JX_CODEC_H264, kPrivateFirst, kPrivateLast, JX_NAL_FLAG_SPS,
    kTypeShift, kTypeMask, CRTPNalVideo::kNoSetType, kNalSPS,       kNalPPS};
}   // namespace

CRTPH264::CRTPH264(CRTPSocket* pSocket) : CRTPNalVideo(pSocket, new (std::nothrow) CJXH264Head(), kH264Format)
{
    m_PayloadType = kDefaultPayloadType;
}

CRTPH264::~CRTPH264() = default;

void CRTPH264::SetupPiece(const char* pPiece)
{
    if (CJXString::StartsWithNoCase(pPiece, kSetsKey)) {
        SetupSPS_PPS(pPiece + sizeof(kSetsKey) - 1);
    }
}

int CRTPH264::OnRecvRTP(CRTPParser& rtp)
{
    const int32_t nResult = BeginPacket(rtp, kFUA);
    if (nResult != JX_OK) {
        return nResult;
    }
    const uint8_t* p = rtp.Payload();
    const int32_t nLen = rtp.PayloadLength();
    const uint8_t nType = NalType(p);
    if (nType >= kNalSlice && nType <= kSingleLast) {
        return OnRecvRTPNal(p[0], p + 1, nLen - 1);
    }
    switch (nType) {
    case kSTAPA:
        return OnRecvRTP24(p, nLen);
    case kSTAPB:
        return OnRecvRTP25(p, nLen);
    case kMTAP16:
        return OnRecvRTP26(p, nLen);
    case kMTAP24:
        return OnRecvRTP27(p, nLen);
    case kFUA:
        return OnRecvRTP28(p, nLen);
    default:
        return JX_ERR_CONTENT;   // 0 and FU-B (29) to 31
    }
}

int CRTPH264::OnRecvRTPNal(uint8_t nHeader, const uint8_t* pData, int nLen)
{
    return TakeNAL(&nHeader, pData, nLen);
}

int32_t CRTPH264::TakeNAL(const uint8_t* pHeader, const uint8_t* pData, int32_t nLen)
{
    if (nLen < 1) {
        return JX_ERR_ARG;
    }
    const uint8_t nType = pHeader[0] & kTypeMask;
    if (nType < kNalSlice || nType > kSingleLast) {
        return JX_ERR_CONTENT;
    }
    int32_t nResult = JX_OK;
    uint16_t nFrameType = kNoType;   // the frame's type once the unit is stored
    switch (nType) {
    case kNalSlice:
        nFrameType = kNonKey;
        break;
    case kNalIDR:
        nFrameType = kKey;
        break;
    case kNalSPS:
    case kNalPPS:
        nResult = FeedHead(pHeader, pData, nLen, SetFlag(pHeader));
        break;
    case kNalAUD:
        // A new access unit: what came before it in this timestamp is not part
        // of it. Slices dropped here were a picture lost.
        ClearBuffer(m_FrameType != kNoType ? 1 : 0);
        break;
    default:
        break;
    }
    return nResult == JX_OK ? StoreNAL(pHeader, pData, nLen, nFrameType) : nResult;
}

int CRTPH264::OnRecvRTP24(const uint8_t* pPayload, int nLen)
{
    JX_ASSERT_PTR(pPayload, kSourcePath, "OnRecvRTP24");
    return nLen < 1 ? JX_ERR_CONTENT : TakeAggregate(pPayload + 1, nLen - 1, 1);
}

int CRTPH264::OnRecvRTP25(const uint8_t* pPayload, int nLen)
{
    JX_ASSERT_PTR(pPayload, kSourcePath, "OnRecvRTP25");
    if (nLen < kSTAPBHeadBytes) {
        return JX_ERR_CONTENT;
    }
    return TakeAggregate(pPayload + kSTAPBHeadBytes, nLen - kSTAPBHeadBytes, 1);
}

int CRTPH264::OnRecvRTP26(const uint8_t* pPayload, int /*nLen*/)
{
    JX_ASSERT_PTR(pPayload, kSourcePath, "OnRecvRTP26");
    JXPrintf("CRTPH264::%s(%d)------>MTAP16: Not support.\n", "OnRecvRTP26", __LINE__);
    DropFrame();
    return JX_ERR_UNSUPPORTED;
}

int CRTPH264::OnRecvRTP27(const uint8_t* pPayload, int /*nLen*/)
{
    JX_ASSERT_PTR(pPayload, kSourcePath, "OnRecvRTP27");
    JXPrintf("CRTPH264::%s(%d)------>MTAP24: Not support.\n", "OnRecvRTP27", __LINE__);
    DropFrame();
    return JX_ERR_UNSUPPORTED;
}

int CRTPH264::OnRecvRTP28(const uint8_t* pPayload, int nLen)
{
    JX_ASSERT_PTR(pPayload, kSourcePath, "OnRecvRTP28");
    SFUnit fu;
    if (!ReadFUnit(pPayload, nLen, fu)) {
        return JX_ERR_CONTENT;
    }
    const uint8_t nHeader = static_cast<uint8_t>((pPayload[0] & kNriMask) | (fu.nFU & kTypeMask));
    if ((fu.nFU & kFUReserved) != 0) {
        JXPrintf("%s(%d)------>Error(s = %u, e = %u, type = %u, len = %d)\n", "OnRecvRTP28", __LINE__,
                 static_cast<unsigned>(fu.bStart), static_cast<unsigned>(fu.bEnd), static_cast<unsigned>(nHeader), nLen);
        DropFrame();
        return JX_ERR_CONTENT;
    }
    if (fu.bStart) {
        return OpenFragment(&nHeader, fu.pData, fu.nData, fu.bEnd);
    }
    return AddFragment(fu.pData, fu.nData, fu.bEnd);
}
