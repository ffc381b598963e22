// The fixed header of one received RTP packet (RFC 3550 5.1) and its optional
// header extension (RFC 3550 5.3.1). The parser copies nothing: it points into
// the caller's bytes, which must stay valid while the parser is used.
#pragma once

#include "JXRtspDefs.h"

class JXRTSP_API CRTPParser : public CJXObject {
public:
    // Length of the fixed header, without CSRC list or extension.
    static constexpr uint32_t kFixedHead = 12;

    CRTPParser();
    ~CRTPParser() override;

    // Back to "not set up"; the decoded header fields keep their values.
    void Reset();
    // Decode the packet. 0: the payload holds at least one byte and may be
    // handed on; JX_ERR_ARG or JX_ERR_CONTENT: drop the packet (the parser is
    // then not set up, whatever it held before).
    int32_t Setup(const uint8_t* pData, uint32_t nLen);
    // One log line with the decoded header (or that the parser is not set up).
    virtual void Dump();

    bool IsSetup() const { return m_Data != nullptr; }
    // Valid only after a successful Setup.
    const uint8_t* Payload() const { return m_Data + m_HeadLen; }
    int32_t PayloadLength() const { return static_cast<int32_t>(m_Size - m_HeadLen); }

    const uint8_t* m_Data = nullptr;   // first byte of the packet; null while not set up
    uint32_t m_Size = 0;               // packet length less the padding
    uint32_t m_HeadLen = 0;            // offset of the payload
    uint8_t m_Version = 0;
    uint8_t m_Padding = 0;
    uint8_t m_Extension = 0;
    uint8_t m_CSRCCount = 0;
    uint8_t m_Marker = 0;
    uint8_t m_PayloadType = 0;
    uint16_t m_SeqNo = 0;
    uint32_t m_TimeStamp = 0;
    uint32_t m_SSRC = 0;
    uint16_t m_ExtProfile = 0;   // profile-defined word of the extension, 0 without one
    uint16_t m_ExtLength = 0;    // bytes of the extension, its 4-byte head included
};
