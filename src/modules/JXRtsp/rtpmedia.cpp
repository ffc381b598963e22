// Depacketizer bases. A frame is complete when a packet with another RTP
// timestamp arrives, or, once a stream's marker bits have shown that they
// agree with its timestamps, at its marked last packet: cameras that do not
// set the bit reliably are still framed by timestamps.
#include "rtpmedia.h"

#include "rtpparser.h"
#include "rtpsocket.h"

#include <cstring>

namespace {
const char kSourcePath[] = "src/modules/JXRtsp/rtpmedia";
constexpr uint16_t kNonKeyFrame = 0;
constexpr uint16_t kKeyFrame = 1;
constexpr uint32_t kWaitingForKey = 1;
constexpr uint16_t kMaxRefCount = 0xFFFF;

// One log line naming the broken rule; the code CheckInvariants returns.
int32_t Broken(const char* pWho, const char* pRule)
{
    JXPrintf("%s: invariant broken: %s\n", pWho, pRule);
    return JX_ERR_STATE;
}

// The rules every frame buffer keeps, whatever its storage.
template <class TBuffer>
int32_t CheckLength(const TBuffer& buffer, int32_t nMax, const char* pWho)
{
    if (buffer.m_Length < 0 || buffer.m_Length > nMax) {
        return Broken(pWho, "frame length outside 0 to the frame cap");
    }
    if (buffer.m_Length > buffer.m_Size || (buffer.m_Length > 0 && buffer.m_Data == nullptr)) {
        return Broken(pWho, "frame length beyond the buffer's storage");
    }
    return JX_OK;
}
}   // namespace

// ---------------------------------------------------------------------------
// CRTPMedia

CRTPMedia::CRTPMedia(CRTPSocket* pSocket) : m_Socket(pSocket)
{
    JX_ASSERT_PTR(pSocket, kSourcePath, "CRTPMedia");
}

CRTPMedia::~CRTPMedia() = default;

int CRTPMedia::Setup(const char* /*pText*/)
{
    return JX_ERR_UNSUPPORTED;
}

int CRTPMedia::OnRecvRTP(CRTPParser& /*rtp*/)
{
    return JX_ERR_UNSUPPORTED;
}

int CRTPMedia::Receive(CRTPParser& rtp)
{
    const int nResult = OnRecvRTP(rtp);
    EndPacket(rtp);
    return nResult;
}

void CRTPMedia::EndPacket(const CRTPParser& /*rtp*/) {}

bool CRTPMedia::IsOwnPacket(const CRTPParser& rtp) const
{
    return rtp.m_PayloadType == m_PayloadType && rtp.m_SSRC == m_SSRC;
}

CJXTime CRTPMedia::StampFrame(uint32_t nTimeStamp, int64_t nArrivalMs)
{
    const int64_t nWallMs = m_Clock.ToWallMs(m_Clock.FrameTime(nTimeStamp, nArrivalMs));
    const int64_t nSafe = nWallMs < 0 ? 0 : nWallMs;
    CJXTime t(nullptr, 0);
    t.m_Time = static_cast<uint32_t>(nSafe / 1000);
    t.m_MS = static_cast<uint32_t>(nSafe % 1000);
    return t;
}

CJXMediaHead* CRTPMedia::GetHead()
{
    return nullptr;
}

int CRTPMedia::PackFrame()
{
    return JX_ERR_UNSUPPORTED;
}

int CRTPMedia::GetFrameRate(double& /*fRate*/)
{
    return JX_ERR_UNSUPPORTED;
}

int32_t CRTPMedia::CheckInvariants() const
{
    if (m_Socket == nullptr) {
        return Broken("media", "no owning stream");
    }
    if (m_NewCount >= kSourceSwitchPackets) {
        return Broken("media", "another source agreed on and not followed");
    }
    return JX_OK;
}

int32_t CRTPMedia::CheckBuffer(const CJXString& buffer, int32_t nMax, const char* pWho)
{
    return CheckLength(buffer, nMax, pWho);
}

int32_t CRTPMedia::CheckBuffer(const CRTPFrameStore& buffer, int32_t nMax, const char* pWho)
{
    const int32_t nResult = CheckLength(buffer, nMax, pWho);
    const char* pFault = nResult == JX_OK ? buffer.Fault() : nullptr;
    return pFault == nullptr ? nResult : Broken(pWho, pFault);
}

CRTPMedia::EPacketOrder CRTPMedia::TrackPacket(const CRTPParser& rtp, uint16_t& nPrevSeq)
{
    nPrevSeq = m_SeqNo;
    if (rtp.m_PayloadType != m_PayloadType) {
        return kOrderForeign;
    }
    if (m_SSRC == 0 && !m_ZeroSSRCLearned) {
        // Learned from the first packet unless SETUP named it. Learned once:
        // a stream whose SSRC is 0 must not take the next stray one for its own.
        m_SSRC = rtp.m_SSRC;
        m_ZeroSSRCLearned = m_SSRC == 0;
    }
    if (m_SSRC != rtp.m_SSRC) {
        return TrySwitchSource(rtp);
    }
    m_NewCount = 0;   // a stray packet of another source is forgotten
    const uint32_t nPrevTimeStamp = m_TimeStamp;
    m_PrevTimeStamp = nPrevTimeStamp;
    m_TimeStamp = rtp.m_TimeStamp;
    m_SeqNo = rtp.m_SeqNo;
    if (rtp.m_TimeStamp != nPrevTimeStamp) {
        return kOrderNewFrame;
    }
    // 16-bit arithmetic: 0 follows 65535.
    return rtp.m_SeqNo == static_cast<uint16_t>(nPrevSeq + 1) ? kOrderInSequence : kOrderGap;
}

// A camera whose encoder restarts goes on with another SSRC (RFC 3550 8.2
// lets a source change it). It is followed once kSourceSwitchPackets of it
// came in sequence with no packet of the known source between: a stray
// packet of another source never takes the stream over.
CRTPMedia::EPacketOrder CRTPMedia::TrySwitchSource(const CRTPParser& rtp)
{
    const bool bSameAttempt = m_NewCount > 0 && rtp.m_SSRC == m_NewSSRC;
    m_FirstRefusal = !bSameAttempt;
    if (bSameAttempt && rtp.m_SeqNo == static_cast<uint16_t>(m_NewSeqNo + 1)) {
        ++m_NewCount;
    } else {
        m_NewCount = 1;   // the count starts again at this packet
    }
    m_NewSSRC = rtp.m_SSRC;
    const uint32_t nPrevTimeStamp = m_NewTimeStamp;
    m_NewSeqNo = rtp.m_SeqNo;
    m_NewTimeStamp = rtp.m_TimeStamp;
    if (m_NewCount < kSourceSwitchPackets) {
        return kOrderBadSSRC;
    }
    m_SSRC = rtp.m_SSRC;
    m_ZeroSSRCLearned = true;   // chosen: never learned again from a stray packet
    m_NewCount = 0;
    ++m_SourceSwitches;
    m_Clock.Reset();   // the new source's timestamps start anywhere: its frames re-anchor
    m_PrevTimeStamp = nPrevTimeStamp;
    m_TimeStamp = rtp.m_TimeStamp;
    m_SeqNo = rtp.m_SeqNo;
    return kOrderNewSource;
}

int32_t CRTPMedia::AppendBounded(CJXString& buffer, const void* pData, int32_t nLen, int32_t nMax)
{
    if (nLen < 0 || (pData == nullptr && nLen > 0)) {
        return JX_ERR_ARG;
    }
    if (nLen > nMax - buffer.m_Length) {
        return JX_ERR_CONTENT;
    }
    int32_t nResult = buffer.AppendDAT(pData, nLen);
    return nResult < 0 ? nResult : JX_OK;
}

int32_t CRTPMedia::AppendBounded(CRTPFrameStore& buffer, const void* pData, int32_t nLen, int32_t nMax)
{
    if (nLen < 0 || (pData == nullptr && nLen > 0)) {
        return JX_ERR_ARG;
    }
    if (nLen > nMax - buffer.m_Length) {
        return JX_ERR_CONTENT;
    }
    return buffer.Append(pData, nLen);
}

// ---------------------------------------------------------------------------
// CRTPMediaVideo

CRTPMediaVideo::CRTPMediaVideo(CRTPSocket* pSocket)
    : CRTPMedia(pSocket), m_Buffer(kFrontRoom, kZeroTail, kInitialBuffer, kMaxFrameBytes)
{
}

CRTPMediaVideo::~CRTPMediaVideo() = default;

// Order checks for one packet. A frame dropped on a gap or a foreign SSRC is
// not gathered again from its remaining packets: JX_ERR_CONTENT tells the
// subclass to leave them out until the next timestamp begins a new frame.
int CRTPMediaVideo::OnRecvRTP(CRTPParser& rtp)
{
    uint16_t nPrevSeq = 0;
    const EPacketOrder nOrder = TrackPacket(rtp, nPrevSeq);
    if (nOrder == kOrderNewSource) {
        m_HasLastPacket = false;   // the old source's last packet says nothing of this one
    }
    if (nOrder != kOrderForeign && nOrder != kOrderBadSSRC) {
        JudgeMarker(nOrder, rtp, nPrevSeq);
    }
    switch (nOrder) {
    case kOrderForeign:
        return JX_OK;   // not checked; the subclass takes the payload as it is
    case kOrderBadSSRC:
        if (IsFirstRefusal()) {
            JXPrintf("video SSRC Error: curr-ssrc = 0x%08x, prev-ssrc = 0x%08x\n", rtp.m_SSRC, m_SSRC);
        }
        DropFrame();
        return JX_ERR_CONTENT;
    case kOrderNewSource:
        JXPrintf("video source changed to SSRC 0x%08x: waiting for its key frame\n", rtp.m_SSRC);
        ResetFrame(kResetNewSource);
        m_FrameTimeStamp = rtp.m_TimeStamp;
        m_FrameArrivalMs = static_cast<int64_t>(CJXTime::GetTimeMS());
        if (rtp.m_TimeStamp == m_PrevTimeStamp) {
            DropFrame();   // its first packets were refused: the frame cannot be whole
            return JX_ERR_CONTENT;
        }
        return JX_OK;
    case kOrderNewFrame:
        if (!IsBufferEmpty()) {
            PackFrame();   // its failures stay with that frame
        }
        // Also a frame that stored nothing: its type or flags must not pass to the next.
        ResetFrame(kResetNewFrame);   // ends any refusal: the packet is taken below
        break;
    case kOrderGap:
        if (!IsBufferEmpty()) {
            JXPrintf("SN Error: cur-sn = %u, prev-sn = %u\n", static_cast<unsigned>(rtp.m_SeqNo),
                     static_cast<unsigned>(nPrevSeq));
            DropFrame();
            return JX_ERR_CONTENT;
        }
        break;
    case kOrderInSequence:
        break;
    }
    m_FrameTimeStamp = rtp.m_TimeStamp;
    // A frame is stamped from the arrival of its last packet. Once the marker
    // bits are trusted that is the marked one, and the clock (not cheap on
    // every host) is read there and at a frame's first packet only; a frame
    // that loses the trust by going on is stamped from its first packet.
    if (!m_MarkerTrusted || rtp.m_Marker != 0 || nOrder != kOrderInSequence) {
        m_FrameArrivalMs = static_cast<int64_t>(CJXTime::GetTimeMS());
    }
    return m_SkipFrame ? JX_ERR_CONTENT : JX_OK;
}

// A frame's last packet carries the marker bit (RFC 6184, 7798, 2435), but
// some cameras set it on every packet or never. Trust is won by
// kMarkerTrustFrames frames in a row whose timestamp change followed a marked
// packet, and lost at the first that did not (or a marked packet the same
// frame goes on after). Only packets in sequence are judged: a loss says
// nothing of the camera.
void CRTPMediaVideo::JudgeMarker(EPacketOrder nOrder, const CRTPParser& rtp, uint16_t nPrevSeq)
{
    const bool bInSequence = m_HasLastPacket && rtp.m_SeqNo == static_cast<uint16_t>(nPrevSeq + 1);
    const bool bWasMarked = m_PrevMarked;
    m_PrevMarked = rtp.m_Marker != 0;
    m_HasLastPacket = true;
    if (!bInSequence || (nOrder != kOrderNewFrame && nOrder != kOrderInSequence)) {
        return;
    }
    const bool bAgrees = (nOrder == kOrderNewFrame) == bWasMarked;
    if (bAgrees) {
        if (nOrder == kOrderNewFrame && !m_MarkerTrusted && ++m_MarkerAgreed >= kMarkerTrustFrames) {
            m_MarkerTrusted = true;
        }
        return;
    }
    m_MarkerAgreed = 0;
    if (m_MarkerTrusted) {
        m_MarkerTrusted = false;
        if (!m_MarkerDistrustLogged) {
            m_MarkerDistrustLogged = true;
            JXPrintf("CRTPMediaVideo::%s(%d)---------->Marker bits disagree with timestamps: frames are closed by "
                     "timestamp.\n", "JudgeMarker", __LINE__);
        }
    }
}

void CRTPMediaVideo::EndPacket(const CRTPParser& rtp)
{
    if (!m_MarkerTrusted || rtp.m_Marker == 0 || !IsOwnPacket(rtp) || IsBufferEmpty()) {
        return;
    }
    PackFrame();   // its failures stay with that frame
    ResetFrame(kResetCleared);
}

CJXMediaHead* CRTPMediaVideo::GetHead()
{
    return m_Head;
}

int CRTPMediaVideo::GetHead(CJXMediaDesc* pDesc)
{
    if (m_Head == nullptr) {
        return JX_ERR_STATE;
    }
    if (pDesc == nullptr) {
        return JX_ERR_ARG;
    }
    return pDesc->SetVideoHead(m_Head);
}

void CRTPMediaVideo::ClearBuffer(int bLost)
{
    ResetFrame(bLost != 0 ? kResetLost : kResetCleared);
}

void CRTPMediaVideo::ResetFrame(EFrameReset nWhy)
{
    if (!IsBufferEmpty() && !m_FrameDelivered) {
        ++m_FramesDropped;
    }
    m_FrameDelivered = false;
    m_Buffer.Empty();
    m_NalFlags = 0;
    m_FrameType = kNoType;
    m_FrameMark = kNoType;
    if (nWhy >= kResetLost) {
        m_WaitKey = kWaitingForKey;
    }
    if (nWhy == kResetDropped) {
        m_SkipFrame = true;   // until the next timestamp
    } else if (nWhy == kResetNewFrame || nWhy == kResetNewSource) {
        m_SkipFrame = false;
    }
    OnFrameReset(nWhy >= kResetLost);
}

int32_t CRTPMediaVideo::CheckInvariants() const
{
    const char kWho[] = "video";
    int32_t nResult = CRTPMedia::CheckInvariants();
    if (nResult == JX_OK) {
        nResult = CheckBuffer(m_Buffer, kMaxFrameBytes, kWho);
    }
    if (nResult != JX_OK) {
        return nResult;
    }
    if (m_WaitKey > kWaitingForKey) {
        return Broken(kWho, "wait-for-key flag neither 0 nor 1");
    }
    if (m_FrameType != kNonKeyFrame && m_FrameType != kKeyFrame && m_FrameType != kNoType) {
        return Broken(kWho, "unknown frame type");
    }
    if (m_FrameMark != kNoType && m_FrameMark != kMarkVI && m_FrameMark != kMarkPB) {
        return Broken(kWho, "unknown frame mark");
    }
    if ((m_NalFlags & ~kNalFlagsKnown) != 0) {
        return Broken(kWho, "unknown NAL flags");
    }
    if ((m_NalFlags & kNalFragmentOpen) != 0 && IsBufferEmpty()) {
        return Broken(kWho, "a fragment is open in an empty frame");
    }
    if (m_SkipFrame && (!IsBufferEmpty() || m_WaitKey != kWaitingForKey)) {
        return Broken(kWho, "a dropped frame holds data or does not wait for a key frame");
    }
    if (!(m_FrameRate >= 0.0) || (m_FrameCount != 0 && !(m_FrameRate > 0.0))) {
        return Broken(kWho, "frames counted without a frame rate");
    }
    if (m_MarkerTrusted && m_MarkerAgreed < kMarkerTrustFrames) {
        return Broken(kWho, "marker bits trusted before enough frames agreed");
    }
    return JX_OK;
}

int CRTPMediaVideo::UpdateFrameRate()
{
    m_RateMedian.OnFrame(m_FrameTimeStamp);
    m_FrameRate = m_RateMedian.Rate(m_Clock.GetRate());
    ++m_FrameCount;
    return 0;
}

int CRTPMediaVideo::GetFrameTime(CJXTime& t)
{
    t = StampFrame(m_FrameTimeStamp, m_FrameArrivalMs);
    return 0;
}

int32_t CRTPMediaVideo::MakeRoom(int32_t nLen)
{
    if (m_SkipFrame) {
        return JX_ERR_CONTENT;   // the rest of a frame already dropped
    }
    if (nLen <= kMaxFrameBytes - m_Buffer.m_Length) {
        return JX_OK;
    }
    DropOversized();
    return JX_ERR_CONTENT;
}

void CRTPMediaVideo::DropOversized()
{
    if (!m_OverflowLogged) {
        m_OverflowLogged = true;
        JXPrintf("CRTPMediaVideo::%s(%d)---------->Frame over %d bytes dropped.\n", "AppendFrame", __LINE__,
                 static_cast<int>(kMaxFrameBytes));
    }
    DropFrame();
}

void CRTPMediaVideo::DropFrame()
{
    ResetFrame(kResetDropped);
}

int32_t CRTPMediaVideo::AppendFrame(const void* pData, int32_t nLen)
{
    if (nLen < 0 || (pData == nullptr && nLen > 0)) {
        return JX_ERR_ARG;
    }
    int32_t nResult = MakeRoom(nLen);
    if (nResult != JX_OK) {
        return nResult;
    }
    if (m_Buffer.Append(pData, nLen) != JX_OK) {
        DropOversized();   // out of memory: the frame cannot be whole
        return JX_ERR_CONTENT;
    }
    return JX_OK;
}

int32_t CRTPMediaVideo::AppendNAL(const uint8_t* pHead, int32_t nHead, const uint8_t* pData, int32_t nLen)
{
    if (pHead == nullptr || nHead < 1 || nHead > 2 || nLen < 0 || (pData == nullptr && nLen > 0)) {
        return JX_ERR_ARG;
    }
    // Room for the whole unit is judged at once, so a unit is never stored in part.
    const int32_t nPrefix = static_cast<int32_t>(sizeof(kStartCode)) + nHead;
    int32_t nResult = MakeRoom(nLen > kMaxFrameBytes ? nLen : nPrefix + nLen);
    if (nResult != JX_OK) {
        return nResult;
    }
    if (m_Buffer.Append(kStartCode, sizeof(kStartCode)) != JX_OK || m_Buffer.Append(pHead, nHead) != JX_OK ||
        m_Buffer.Append(pData, nLen) != JX_OK) {
        DropOversized();
        return JX_ERR_CONTENT;
    }
    return JX_OK;
}

bool CRTPMediaVideo::CheckWaitKey()
{
    if (m_FrameType != kKeyFrame && m_WaitKey != 0) {
        ResetFrame(kResetLost);
        return false;
    }
    m_WaitKey = 0;
    return true;
}

//   CPacket: [frame head, 20 bytes][room][prefix][gathered frame][32 zero bytes]
//                                         |<------ length n ----->|
// The frame was gathered behind the room: the prefix goes in its last bytes
// and the payload starts there, so no byte of the frame moves.
int32_t CRTPMediaVideo::DeliverFrame(uint8_t nType, uint8_t nCodec, uint16_t nWidth, uint16_t nHeight,
                                     CJXMediaHead* pPrefix, uint16_t nPrefixFlags)
{
    UpdateFrameRate();
    CJXTime t(nullptr, 0);
    GetFrameTime(t);
    YRTIME tm{};
    t.GetTime(tm);

    int32_t nPrefix = pPrefix != nullptr ? pPrefix->GetHeadSize(nPrefixFlags) : 0;
    if (nPrefix < 0) {
        nPrefix = 0;
    }
    if (nPrefix > kMaxFrameBytes) {
        return JX_ERR_CONTENT;
    }
    const int32_t nFrame = nPrefix + m_Buffer.m_Length;
    CPacket* pPacket = m_Buffer.Seal(nPrefix);
    if (pPacket == nullptr) {
        return JX_ERR_NOMEM;
    }
    uint8_t* pOut = pPacket->FrameGetData();
    if (nPrefix > 0 && pPrefix->WriteHead(pOut, nPrefixFlags) != nPrefix) {
        // The head promised another size than it wrote: the frame would be corrupt.
        JXPrintf("CRTPMediaVideo::%s(%d)---------->Error.\n", "DeliverFrame", __LINE__);
        return JX_ERR_CONTENT;
    }
    memset(pOut + nFrame, 0, kZeroTail);
    pPacket->FrameSetType(nType);
    pPacket->FrameSetLength(static_cast<uint32_t>(nFrame));
    pPacket->FrameSetCodec(nCodec);
    pPacket->FrameSetFPS(static_cast<float>(m_FrameRate));
    pPacket->FrameSetTime(tm, static_cast<uint16_t>(t.m_MS));
    pPacket->FrameSetWidth(nWidth);
    pPacket->FrameSetHeight(nHeight);

    m_FrameDelivered = true;
    m_Socket->OnRecvFrame(pPacket);   // a receiver that keeps the frame holds its own reference
    m_Buffer.Handed();
    return JX_OK;
}

// ---------------------------------------------------------------------------
// CRTPMediaAudio

CRTPMediaAudio::CRTPMediaAudio(CRTPSocket* pSocket)
    : CRTPMedia(pSocket), m_Buffer(0, 0, kInitialBuffer, kMaxFrameBytes)
{
}

CRTPMediaAudio::~CRTPMediaAudio() = default;

int CRTPMediaAudio::OnRecvRTP(CRTPParser& rtp)
{
    uint16_t nPrevSeq = 0;
    switch (TrackPacket(rtp, nPrevSeq)) {
    case kOrderBadSSRC:
        if (IsFirstRefusal()) {
            JXPrintf("audio SSRC Error: curr-ssrc = 0x%08x, prev-ssrc = 0x%08x\n", rtp.m_SSRC, m_SSRC);
        }
        ClearBuffer();
        return JX_ERR_CONTENT;
    case kOrderNewSource:
        // Audio frames stand alone: the new source's packet starts the next one.
        JXPrintf("audio source changed to SSRC 0x%08x\n", rtp.m_SSRC);
        if (!IsBufferEmpty()) {
            ++m_FramesDropped;
            ClearBuffer();
        }
        m_FrameTimeStamp = rtp.m_TimeStamp;
        return JX_OK;
    case kOrderNewFrame:
        if (!IsBufferEmpty()) {
            PackFrame();
            ClearBuffer();
        }
        m_FrameTimeStamp = rtp.m_TimeStamp;
        return JX_OK;
    case kOrderGap:
        if (rtp.m_SeqNo == nPrevSeq) {
            return JX_ERR_CONTENT;   // a duplicate: its samples may have gone out already
        }
        if (!IsBufferEmpty()) {
            JXPrintf("SN Error: cur-sn = %u, prev-sn = %u\n", static_cast<unsigned>(rtp.m_SeqNo),
                     static_cast<unsigned>(nPrevSeq));
            ++m_FramesDropped;
            ClearBuffer();
        }
        m_FrameTimeStamp = rtp.m_TimeStamp;
        return JX_OK;
    case kOrderForeign:
    case kOrderInSequence:
        break;
    }
    return JX_OK;
}

void CRTPMediaAudio::ClearBuffer()
{
    m_Buffer.Empty();
}

int32_t CRTPMediaAudio::CheckInvariants() const
{
    int32_t nResult = CRTPMedia::CheckInvariants();
    return nResult != JX_OK ? nResult : CheckBuffer(m_Buffer, kMaxFrameBytes, "audio");
}

int32_t CRTPMediaAudio::AppendFrame(const void* pData, int32_t nLen)
{
    int32_t nResult = AppendBounded(m_Buffer, pData, nLen, kMaxFrameBytes);
    if (nResult == JX_OK || nResult == JX_ERR_ARG) {
        return nResult;
    }
    // Audio frames are independent: dropping this one loses nothing more.
    ClearBuffer();
    return JX_ERR_CONTENT;
}

//   CPacket: [frame head, 20 bytes][gathered samples]
int32_t CRTPMediaAudio::DeliverFrame(uint8_t nCodec, uint32_t nRate, uint32_t nSamples)
{
    if (IsBufferEmpty()) {
        return JX_ERR_STATE;
    }
    const int32_t nBody = m_Buffer.m_Length;
    CPacket* pPacket = m_Buffer.Seal(0);
    if (pPacket == nullptr) {
        return JX_ERR_NOMEM;
    }
    const int64_t nDurationMs = nRate != 0 ? static_cast<int64_t>(nSamples) * 1000 / nRate : 0;
    const CJXTime t = StampFrame(m_FrameTimeStamp, static_cast<int64_t>(CJXTime::GetTimeMS()) - nDurationMs);
    YRTIME tm{};
    t.GetTime(tm);
    pPacket->FrameSetType(JX_FRAME_AUDIO);
    pPacket->FrameSetLength(static_cast<uint32_t>(nBody));
    pPacket->FrameSetCodec(nCodec);
    pPacket->FrameSetFreq(nRate);
    pPacket->FrameSetFPS(1.0f);
    pPacket->FrameSetTime(tm, static_cast<uint16_t>(t.m_MS));
    m_Socket->OnRecvFrame(pPacket);
    m_Buffer.Handed();   // delivered: the next frame takes a packet of its own
    ClearBuffer();
    return JX_OK;
}

// ---------------------------------------------------------------------------
// CRTPFrame

CRTPFrame::CRTPFrame() : CJXListOBJ(10) {}

CRTPFrame::~CRTPFrame()
{
    RemoveAll();
}

int CRTPFrame::Acquire()
{
    CJXAutoLock lock(m_RefMutex);
    if (m_RefCount == kMaxRefCount) {
        return JX_ERR_STATE;   // one more would wrap the count to 0
    }
    return ++m_RefCount;
}

int CRTPFrame::Release()
{
    m_RefMutex.Enter(CJXMutex::kInfinite);
    if (m_RefCount == 0) {
        m_RefMutex.Leave();
        return 0;
    }
    const int nCount = --m_RefCount;
    m_RefMutex.Leave();
    if (nCount == 0) {
        // Emptied here, not only in the destructor: there a subclass's
        // OnDataFree is no longer reachable and its items would leak.
        RemoveAll();
        delete this;
    }
    return nCount;
}
