// Depacketizer bases. A frame is complete when a packet with another RTP
// timestamp arrives; the marker bit is not used, since cameras do not set it
// reliably.
#include "rtpmedia.h"

#include "rtpparser.h"
#include "rtpsocket.h"

#include <cstring>

namespace {
const char kSourcePath[] = "src/modules/JXRtsp/rtpmedia";
constexpr double kDefaultFrameRate = 25.0;
constexpr double kMinFrameRate = 0.01;
constexpr uint16_t kNonKeyFrame = 0;
constexpr uint16_t kKeyFrame = 1;
constexpr uint32_t kWaitingForKey = 1;
constexpr uint16_t kMaxRefCount = 0xFFFF;
const uint8_t kStartCode[4] = {0x00, 0x00, 0x00, 0x01};

// One log line naming the broken rule; the code CheckInvariants returns.
int32_t Broken(const char* pWho, const char* pRule)
{
    JXPrintf("%s: invariant broken: %s\n", pWho, pRule);
    return JX_ERR_STATE;
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
    return JX_OK;
}

int32_t CRTPMedia::CheckBuffer(const CJXString& buffer, int32_t nMax, const char* pWho)
{
    if (buffer.m_Length < 0 || buffer.m_Length > nMax) {
        return Broken(pWho, "frame length outside 0 to the frame cap");
    }
    if (buffer.m_Length > buffer.m_Size || (buffer.m_Length > 0 && buffer.m_Data == nullptr)) {
        return Broken(pWho, "frame length beyond the buffer's storage");
    }
    return JX_OK;
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
        return kOrderBadSSRC;
    }
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

// ---------------------------------------------------------------------------
// CRTPMediaVideo

CRTPMediaVideo::CRTPMediaVideo(CRTPSocket* pSocket) : CRTPMedia(pSocket), m_Buffer(nullptr, 5)
{
    m_RefTime.SetTime();
    m_Buffer.Init(kInitialBuffer);   // on failure the buffer grows with the first frame
}

CRTPMediaVideo::~CRTPMediaVideo() = default;

// Order checks for one packet. A frame dropped on a gap or a foreign SSRC is
// not gathered again from its remaining packets: JX_ERR_CONTENT tells the
// subclass to leave them out until the next timestamp begins a new frame.
int CRTPMediaVideo::OnRecvRTP(CRTPParser& rtp)
{
    uint16_t nPrevSeq = 0;
    switch (TrackPacket(rtp, nPrevSeq)) {
    case kOrderForeign:
        return JX_OK;   // not checked; the subclass takes the payload as it is
    case kOrderBadSSRC:
        JXPrintf("video SSRC Error: curr-ssrc = 0x%08x, prev-ssrc = 0x%08x\n", rtp.m_SSRC, m_SSRC);
        DropFrame();
        return JX_ERR_CONTENT;
    case kOrderNewFrame:
        if (!IsBufferEmpty()) {
            PackFrame();   // its failures stay with that frame
        }
        // Also a frame that stored nothing: its type or flags must not pass to the next.
        ResetFrame(kResetNewFrame);
        return JX_OK;
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
    return m_SkipFrame ? JX_ERR_CONTENT : JX_OK;
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
    m_Buffer.Empty(false);
    m_NalFlags = 0;
    m_FrameType = kNoType;
    m_FrameMark = kNoType;
    if (nWhy >= kResetLost) {
        m_WaitKey = kWaitingForKey;
    }
    if (nWhy == kResetDropped) {
        m_SkipFrame = true;   // until the next timestamp
    } else if (nWhy == kResetNewFrame) {
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
    return JX_OK;
}

int CRTPMediaVideo::UpdateFrameRate()
{
    if (m_FrameCount == 0 || m_FrameRate == 0.0) {
        const uint32_t nTicks = m_TimeStamp - m_PrevTimeStamp;
        m_FrameCount = 1;
        m_RefTimeStamp = m_TimeStamp;
        m_FrameRate = nTicks != 0 ? static_cast<double>(kClockRate) / nTicks : kDefaultFrameRate;
        m_RefTime.SetTime();
        return 0;
    }
    const uint32_t nFrames = m_FrameCount;
    m_FrameCount = nFrames + 1;
    if (m_FrameType != kKeyFrame) {
        return 0;
    }
    // Each key frame renews the estimate from the frames since the last one.
    const uint32_t nTicks = m_TimeStamp - m_RefTimeStamp;
    m_FrameRate = nTicks != 0 ? nFrames * static_cast<double>(kClockRate) / nTicks : kDefaultFrameRate;
    m_RefTimeStamp = m_TimeStamp;
    m_FrameCount = 1;
    m_RefTime.SetTime();
    return 0;
}

int CRTPMediaVideo::GetFrameTime(CJXTime& t)
{
    if (m_FrameCount == 0 || m_FrameType == kKeyFrame || m_FrameRate < kMinFrameRate) {
        return 0;
    }
    const double fOffsetMS = (m_FrameCount - 1) * 1000.0 / m_FrameRate;
    if (!(fOffsetMS < 4294967296.0)) {
        return 0;   // beyond what a 32-bit offset holds: stamp with now
    }
    t = m_RefTime;
    t.Add(static_cast<uint32_t>(fOffsetMS));
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
    if (m_Buffer.AppendDAT(pData, nLen) < 0) {
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
    if (m_Buffer.AppendDAT(kStartCode, sizeof(kStartCode)) < 0 || m_Buffer.AppendDAT(pHead, nHead) < 0 ||
        m_Buffer.AppendDAT(pData, nLen) < 0) {
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

//   CPacket: [frame head, 20 bytes][prefix][gathered frame][32 zero bytes]
//                                  |<------ length n ----->|
int32_t CRTPMediaVideo::DeliverFrame(uint8_t nType, uint8_t nCodec, uint16_t nWidth, uint16_t nHeight,
                                     CJXMediaHead* pPrefix, uint16_t nPrefixFlags)
{
    UpdateFrameRate();
    CJXTime t(nullptr, 0);
    t.SetTime();
    GetFrameTime(t);
    YRTIME tm{};
    t.GetTime(tm);

    int32_t nPrefix = pPrefix != nullptr ? pPrefix->GetHeadSize(nPrefixFlags) : 0;
    if (nPrefix < 0) {
        nPrefix = 0;
    }
    const int32_t nBody = m_Buffer.m_Length;
    if (nPrefix > kMaxFrameBytes) {
        return JX_ERR_CONTENT;
    }
    const int32_t nFrame = nPrefix + nBody;
    CPacket* pPacket = CPacket::Acquire(nFrame + CPacket::kFrameHead + kZeroTail, 0);
    if (pPacket == nullptr) {
        return JX_ERR_NOMEM;
    }
    pPacket->FrameInit();
    pPacket->FrameSetType(nType);
    pPacket->FrameSetLength(static_cast<uint32_t>(nFrame));
    pPacket->FrameSetCodec(nCodec);
    pPacket->FrameSetFPS(static_cast<float>(m_FrameRate));
    pPacket->FrameSetTime(tm, static_cast<uint16_t>(t.m_MS));
    pPacket->FrameSetWidth(nWidth);
    pPacket->FrameSetHeight(nHeight);

    uint8_t* pOut = pPacket->FrameGetData();
    if (nPrefix > 0 && pPrefix->WriteHead(pOut, nPrefixFlags) != nPrefix) {
        // The head promised another size than it wrote: the frame would be corrupt.
        JXPrintf("CRTPMediaVideo::%s(%d)---------->Error.\n", "DeliverFrame", __LINE__);
        pPacket->Release();
        return JX_ERR_CONTENT;
    }
    if (nBody > 0) {
        memcpy(pOut + nPrefix, m_Buffer.m_Data, static_cast<size_t>(nBody));
    }
    memset(pOut + nFrame, 0, kZeroTail);

    m_Socket->OnRecvFrame(pPacket);   // a receiver that keeps the frame holds its own reference
    pPacket->Release();
    return JX_OK;
}

// ---------------------------------------------------------------------------
// CRTPMediaAudio

CRTPMediaAudio::CRTPMediaAudio(CRTPSocket* pSocket) : CRTPMedia(pSocket), m_Buffer(nullptr, 5)
{
    m_Buffer.Init(kInitialBuffer);
}

CRTPMediaAudio::~CRTPMediaAudio() = default;

int CRTPMediaAudio::OnRecvRTP(CRTPParser& rtp)
{
    uint16_t nPrevSeq = 0;
    switch (TrackPacket(rtp, nPrevSeq)) {
    case kOrderBadSSRC:
        JXPrintf("audio SSRC Error: curr-ssrc = 0x%08x, prev-ssrc = 0x%08x\n", rtp.m_SSRC, m_SSRC);
        ClearBuffer();
        return JX_ERR_CONTENT;
    case kOrderNewFrame:
        if (!IsBufferEmpty()) {
            PackFrame();
            ClearBuffer();
        }
        return JX_OK;
    case kOrderGap:
        if (!IsBufferEmpty()) {
            JXPrintf("SN Error: cur-sn = %u, prev-sn = %u\n", static_cast<unsigned>(rtp.m_SeqNo),
                     static_cast<unsigned>(nPrevSeq));
            ClearBuffer();
        }
        return JX_OK;
    case kOrderForeign:
    case kOrderInSequence:
        break;
    }
    return JX_OK;
}

void CRTPMediaAudio::ClearBuffer()
{
    m_Buffer.Empty(false);
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
int32_t CRTPMediaAudio::DeliverFrame(uint8_t nCodec, uint32_t nRate)
{
    if (IsBufferEmpty()) {
        return JX_ERR_STATE;
    }
    const int32_t nBody = m_Buffer.m_Length;
    CPacket* pPacket = CPacket::Acquire(nBody + CPacket::kFrameHead, 0);
    if (pPacket == nullptr) {
        return JX_ERR_NOMEM;
    }
    // Stamped now: a zero time would date every audio frame to 1970.
    CJXTime t(nullptr, 0);
    t.SetTime();
    YRTIME tm{};
    t.GetTime(tm);
    pPacket->FrameInit();
    pPacket->FrameSetType(JX_FRAME_AUDIO);
    pPacket->FrameSetLength(static_cast<uint32_t>(nBody));
    pPacket->FrameSetCodec(nCodec);
    pPacket->FrameSetFreq(nRate);
    pPacket->FrameSetFPS(1.0f);
    pPacket->FrameSetTime(tm, static_cast<uint16_t>(t.m_MS));
    memcpy(pPacket->FrameGetData(), m_Buffer.m_Data, static_cast<size_t>(nBody));
    m_Socket->OnRecvFrame(pPacket);
    pPacket->Release();
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
