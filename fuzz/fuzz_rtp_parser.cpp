// RTP header parser followed by the video and audio bases' order checks.
// Input: the whole input is first parsed as one packet; then it is read as
// records [2-byte big-endian length][bytes], each one packet fed through the
// parser into both depacketizer bases. After every packet the parser's
// payload must lie inside the packet and both bases must pass their
// CheckInvariants (the video one extended by this target's own rules); every
// delivered frame must be whole and end in 32 zero bytes.
#include "rtpmedia.h"
#include "rtpparser.h"
#include "rtpsocket.h"

#include <cstdlib>
#include <cstring>

namespace {

class CFuzzSink : public CRTPSocket {
public:
    int OnRecvFrame(CPacket* pFrame) override
    {
        const uint8_t* pTail = pFrame->FrameGetData() + pFrame->FrameGetLength();
        for (int i = 0; i < CRTPMediaVideo::kZeroTail; ++i) {
            if (pTail[i] != 0) {
                abort();
            }
        }
        if (pFrame->FrameGetLength() != m_Expect) {
            abort();
        }
        return 0;
    }
    uint32_t m_Expect = 0;
};

// Takes each payload through one of the ways a payload format fills a frame,
// chosen by bits 5 and 6 of its first byte: appended as it is, as a NAL unit
// that opens a fragment, appended closing the fragment, or a cleared frame
// (bit 7: as after a loss). A header extension marks the frame.
class CFuzzVideo : public CRTPMediaVideo {
public:
    static constexpr uint8_t kActionShift = 5;
    static constexpr uint8_t kActionMask = 3;
    static constexpr uint8_t kNalType = 0x1F;
    static constexpr uint8_t kKeyNal = 5;
    static constexpr uint8_t kLostBit = 0x80;
    enum { kAppend, kOpenFragment, kCloseFragment, kClear };

    explicit CFuzzVideo(CFuzzSink* pSink) : CRTPMediaVideo(pSink), m_Sink(pSink) { m_PayloadType = 96; }
    int OnRecvRTP(CRTPParser& rtp) override
    {
        int nResult = CRTPMediaVideo::OnRecvRTP(rtp);
        if (nResult != 0) {
            return nResult;
        }
        const uint8_t* p = rtp.Payload();
        const int32_t nLen = rtp.PayloadLength();
        if (m_FrameType == kNoType) {
            m_FrameType = (p[0] & kNalType) == kKeyNal ? 1 : 0;
        }
        if (rtp.m_Extension) {
            m_FrameMark = (rtp.m_ExtProfile & 1) ? kMarkPB : kMarkVI;
        }
        switch ((p[0] >> kActionShift) & kActionMask) {
        case kOpenFragment:
            nResult = AppendNAL(p, 1, p + 1, nLen - 1);
            if (nResult == JX_OK) {
                m_Stored += static_cast<int64_t>(sizeof(uint32_t)) + nLen;   // start code, header, rest
                m_NalFlags |= kNalFragmentOpen;
            }
            return nResult;
        case kClear:
            ClearBuffer(p[0] & kLostBit);
            return JX_OK;
        default:
            break;
        }
        nResult = AppendFrame(p, nLen);
        if (nResult == JX_OK) {
            m_Stored += nLen;
            if (((p[0] >> kActionShift) & kActionMask) == kCloseFragment) {
                m_NalFlags &= static_cast<uint16_t>(~kNalFragmentOpen);
            }
        }
        return nResult;
    }
    int PackFrame() override
    {
        if (m_FrameType == kNoType || !CheckWaitKey()) {
            return 0;
        }
        m_Sink->m_Expect = static_cast<uint32_t>(m_Buffer.m_Length);
        return DeliverFrame(static_cast<uint8_t>(m_FrameType), 1, 0, 0);
    }
    // The base's rules and two of this class: whatever is buffered was taken
    // by it, which typed the frame first, and every byte it stored is there
    // until a reset (which must reach OnFrameReset).
    int32_t CheckInvariants() const override
    {
        int32_t nResult = CRTPMediaVideo::CheckInvariants();
        if (nResult != JX_OK) {
            return nResult;
        }
        if (m_Buffer.m_Length > 0 && m_FrameType == kNoType) {
            return JX_ERR_STATE;
        }
        return m_Stored == m_Buffer.m_Length ? JX_OK : JX_ERR_STATE;
    }
    CFuzzSink* m_Sink;

protected:
    void OnFrameReset(bool /*bLost*/) override { m_Stored = 0; }

private:
    int64_t m_Stored = 0;
};

class CFuzzAudio : public CRTPMediaAudio {
public:
    explicit CFuzzAudio(CRTPSocket* pSocket) : CRTPMediaAudio(pSocket) { m_PayloadType = 96; }
    int OnRecvRTP(CRTPParser& rtp) override
    {
        int nResult = CRTPMediaAudio::OnRecvRTP(rtp);
        return nResult != 0 ? nResult : AppendFrame(rtp.Payload(), rtp.PayloadLength());
    }
    int PackFrame() override
    {
        m_Packed += static_cast<uint64_t>(m_Buffer.m_Length);
        return 0;
    }
    int GetHead(CJXMediaDesc*) override { return 0; }
    uint64_t m_Packed = 0;
};

void FeedOne(const uint8_t* pData, size_t nLen, CFuzzVideo& video, CFuzzAudio& audio)
{
    // An exact heap copy, so that a read past the packet is caught.
    uint8_t* pCopy = static_cast<uint8_t*>(malloc(nLen > 0 ? nLen : 1));
    if (pCopy == nullptr) {
        return;
    }
    if (nLen > 0) {
        memcpy(pCopy, pData, nLen);
    }
    CRTPParser rtp;
    if (rtp.Setup(pCopy, static_cast<uint32_t>(nLen)) == JX_OK) {
        if (rtp.m_HeadLen >= rtp.m_Size || rtp.m_Size > nLen || rtp.Payload() < pCopy ||
            rtp.Payload() + rtp.PayloadLength() > pCopy + nLen) {
            abort();
        }
        video.OnRecvRTP(rtp);
        audio.OnRecvRTP(rtp);
    } else if (rtp.IsSetup()) {
        abort();
    }
    free(pCopy);
    if (video.CheckInvariants() != JX_OK || audio.CheckInvariants() != JX_OK) {
        abort();
    }
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CFuzzSink sink;
    auto* pVideo = new CFuzzVideo(&sink);
    sink.m_Media = pVideo;
    CFuzzAudio audio(&sink);

    FeedOne(pData, nSize, *pVideo, audio);
    size_t nPos = 0;
    while (nSize - nPos >= 2) {
        const size_t nLen = (static_cast<size_t>(pData[nPos]) << 8) | pData[nPos + 1];
        nPos += 2;
        const size_t nTake = nLen < nSize - nPos ? nLen : nSize - nPos;
        FeedOne(pData + nPos, nTake, *pVideo, audio);
        nPos += nTake;
    }
    return 0;
}
