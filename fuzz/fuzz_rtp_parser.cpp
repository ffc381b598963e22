// RTP header parser followed by the video and audio bases' order checks.
// Input: the whole input is first parsed as one packet; then it is read as
// records [2-byte big-endian length][bytes], each one packet fed through the
// parser into both depacketizer bases. After every packet the parser's
// payload must lie inside the packet and the bases' state must be sound;
// every delivered frame must be whole and end in 32 zero bytes.
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

class CFuzzVideo : public CRTPMediaVideo {
public:
    explicit CFuzzVideo(CFuzzSink* pSink) : CRTPMediaVideo(pSink), m_Sink(pSink) { m_PayloadType = 96; }
    int OnRecvRTP(CRTPParser& rtp) override
    {
        int nResult = CRTPMediaVideo::OnRecvRTP(rtp);
        if (nResult != 0) {
            return nResult;
        }
        if (m_FrameType == kNoType) {
            m_FrameType = (rtp.Payload()[0] & 0x1F) == 5 ? 1 : 0;
        }
        return AppendFrame(rtp.Payload(), rtp.PayloadLength());
    }
    int PackFrame() override
    {
        if (m_FrameType == kNoType || !CheckWaitKey()) {
            return 0;
        }
        m_Sink->m_Expect = static_cast<uint32_t>(m_Buffer.m_Length);
        return DeliverFrame(static_cast<uint8_t>(m_FrameType), 1, 0, 0);
    }
    void CheckInvariants() const
    {
        if (m_Buffer.m_Length < 0 || m_Buffer.m_Length > kMaxFrameBytes) {
            abort();
        }
        if (m_FrameType != 0 && m_FrameType != 1 && m_FrameType != kNoType) {
            abort();
        }
        // Whatever is buffered was taken by this class, which typed the frame.
        if (m_Buffer.m_Length > 0 && m_FrameType == kNoType) {
            abort();
        }
        if (m_WaitKey > 1) {
            abort();
        }
    }
    CFuzzSink* m_Sink;
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
        video.CheckInvariants();
    } else if (rtp.IsSetup()) {
        abort();
    }
    free(pCopy);
}

}  // namespace

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
