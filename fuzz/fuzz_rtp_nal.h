// Shared by the H.264 and H.265 fuzz targets. Input: records [2-byte big-endian
// length][packet], each packet parsed and fed to the depacketizer; after every
// packet its CheckInvariants must hold, and every delivered frame must be
// sound: it begins with a start code, ends in 32 zero bytes, and carries the
// head's picture size.
#pragma once

#include "rtpmedia.h"
#include "rtpparser.h"
#include "fuzz_rtp_records.h"
#include "rtpsocket.h"

#include <cstdlib>
#include <cstring>

class CFuzzNalSink : public CRTPSocket {
public:
    int OnRecvFrame(CPacket* pFrame) override
    {
        static const uint8_t kStartCode[4] = {0, 0, 0, 1};
        const uint8_t* pData = pFrame->FrameGetData();
        const uint32_t nLen = pFrame->FrameGetLength();
        if (nLen <= sizeof(kStartCode) || memcmp(pData, kStartCode, sizeof(kStartCode)) != 0) {
            abort();
        }
        for (int i = 0; i < CRTPMediaVideo::kZeroTail; ++i) {
            if (pData[nLen + i] != 0) {
                abort();
            }
        }
        if (pFrame->FrameGetWidth() == 0 || pFrame->FrameGetHeight() == 0) {
            abort();
        }
        return 0;
    }
};

// Feeds the records of the input to pMedia (owned by the sink from here on).
inline void FuzzNalRecords(CFuzzNalSink& sink, CRTPMedia* pMedia, const char* pFmtp, const uint8_t* pData, size_t nSize)
{
    constexpr uint16_t kVI = 1;   // extension words that mark frames
    constexpr uint16_t kPB = 2;
    sink.m_Media = pMedia;
    sink.m_MarkEnabled = 1;
    sink.m_VI = kVI;
    sink.m_PB = kPB;
    pMedia->m_PayloadType = 96;
    pMedia->Setup(pFmtp);
    FeedRtpRecords(pData, nSize, 0, &pMedia, 1);
}
