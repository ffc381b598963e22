// JPEG depacketizer: rebuilds a whole baseline JPEG/JFIF picture from the short
// RTP/JPEG header and the scan data that follow it (RFC 2435), and hands each
// complete picture on as one frame.
#pragma once

#include "rtpmedia.h"

class JXRTSP_API CRTPMJPEG : public CRTPMediaVideo {
public:
    static constexpr uint16_t kDefaultPayloadType = 26;
    // The RTP/JPEG main header; types with restart markers add 4 more bytes,
    // and a first fragment with Q of 128 or more a 4-byte table header.
    static constexpr uint32_t kMainHeader = 8;
    static constexpr uint32_t kRestartHeader = 4;
    static constexpr uint32_t kTableHeader = 4;
    // One 8-bit quantization table in zig-zag order.
    static constexpr uint32_t kTableBytes = 64;

    explicit CRTPMJPEG(CRTPSocket* pSocket);
    ~CRTPMJPEG() override;

    // Picture size for streams whose RTP/JPEG header cannot hold it (above
    // 2040 pixels, sent as 0): "x-dimensions=W,H" in the fmtp text, or the
    // attribute line "a=x-dimensions:W,H". JX_OK, JX_ERR_ARG for no text,
    // JX_ERR_UNSUPPORTED when the text holds no usable size.
    int Setup(const char* pText) override;
    int OnRecvRTP(CRTPParser& rtp) override;
    // Delivers the gathered picture when it is whole; a picture that lost its
    // last fragment is dropped (JX_ERR_CONTENT).
    int PackFrame() override;
    int32_t CheckInvariants() const override;

    // One RTP/JPEG payload. JX_OK, or JX_ERR_FAIL for a short, inconsistent or
    // unsupported payload (a picture it belongs to is dropped).
    int InputJpegData(const uint8_t* pData, uint32_t nLen);
    // Ends the picture with an end-of-image marker unless its data already does.
    int32_t EndInputJpegData();

protected:
    void OnFrameReset(bool bLost) override;

private:
    // First fragment: the picture's header from the RTP/JPEG header, then its scan data.
    int StartPicture(const uint8_t* pData, uint32_t nLen, uint32_t nPos, uint8_t nType, uint16_t nRestart);
    int32_t AppendHeader(uint8_t nType, uint16_t nRestart, const uint8_t* pTables, uint32_t nTables);
    int32_t AppendScan(const uint8_t* pData, uint32_t nLen);
    // Refuses a payload; a picture being gathered cannot be whole without it.
    int Refuse();
    bool EndsWithEOI() const;

    uint16_t m_SdpWidth = 0;       // from Setup; 0 when not given
    uint16_t m_SdpHeight = 0;
    uint32_t m_NextOffset = 0;     // fragment offset the next fragment must carry
    uint32_t m_HeaderBytes = 0;    // header bytes at the start of the picture
    bool m_StreamMarks = false;    // the stream sets the marker bit on last fragments
    bool m_LastMarked = false;     // the latest fragment taken carried the marker bit
};
