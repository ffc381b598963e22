// A minimal video depacketizer over the video base, for the base's tests: it
// appends each payload as it is, takes the frame type from the first byte of
// the frame (NAL type 5 is a key frame, as in H.264) and packs through the
// base's delivery sequence.
#pragma once

#include "rtpmedia.h"
#include "rtpparser.h"

#include <cstring>

class CTestVideo : public CRTPMediaVideo {
public:
    explicit CTestVideo(CRTPSocket* pSocket) : CRTPMediaVideo(pSocket) { m_PayloadType = 96; }

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
        ++m_PackCalls;
        if (m_FrameType == kNoType || !CheckWaitKey()) {
            return 0;
        }
        const uint8_t nType = static_cast<uint8_t>(m_FrameMark != kNoType ? m_FrameMark : m_FrameType);
        return DeliverFrame(nType, m_CodecOut, m_Width, m_Height, m_FrameType == 1 ? m_Prefix : nullptr,
                            m_NalFlags);
    }

    using CRTPMediaVideo::AppendFrame;
    using CRTPMediaVideo::AppendNAL;
    using CRTPMediaVideo::DeliverFrame;

    int m_PackCalls = 0;
    uint8_t m_CodecOut = 1;
    CJXMediaHead* m_Prefix = nullptr;   // parameter sets put in front of key frames
};

// A parameter-set head with two fixed sets, "SPS" 67 AA and "PPS" 68 BB,
// leaving out the kinds flagged as in-band.
class CTestHead : public CJXVideoHead {
public:
    int32_t GetCodec() const override { return 1; }
    int32_t SetNAL(uint16_t, const uint8_t*, int32_t) override { return 0; }
    int32_t WriteHead(uint8_t* pOut, uint16_t nFlags) override
    {
        int32_t n = 0;
        if (!(nFlags & JX_NAL_FLAG_SPS)) {
            memcpy(pOut + n, kSPS, sizeof(kSPS));
            n += sizeof(kSPS);
        }
        if (!(nFlags & JX_NAL_FLAG_PPS)) {
            memcpy(pOut + n, kPPS, sizeof(kPPS));
            n += sizeof(kPPS);
        }
        return n + m_WriteError;
    }
    int32_t GetHeadSize(uint16_t nFlags) override
    {
        return ((nFlags & JX_NAL_FLAG_SPS) ? 0 : int32_t(sizeof(kSPS))) +
               ((nFlags & JX_NAL_FLAG_PPS) ? 0 : int32_t(sizeof(kPPS)));
    }
    bool IsReady() override { return true; }

    static constexpr uint8_t kSPS[6] = {0, 0, 0, 1, 0x67, 0xAA};
    static constexpr uint8_t kPPS[6] = {0, 0, 0, 1, 0x68, 0xBB};
    int32_t m_WriteError = 0;   // added to WriteHead's count: a head that breaks its promise
};
