// Line reader over the SDP body of a DESCRIBE response.
#pragma once

#include "JXRtspDefs.h"

class CRTSPCommand;

// Reads the body of the stream's response in place, one line at a time,
// bounded by the body's length: Setup ends every line of the body with a NUL
// where its line end stood, so lines of any length are read whole and
// nothing is copied. The response must not be reset while the reader is used.
// The session-level lines are read by CRTSPClient::ParseSDPHead, each media
// section by CRTPSocket::Open; the connection lines are noted on the way, so
// the description is walked once.
class JXRTSP_API CSDPParser : public CHTTPParser {
public:
    CSDPParser();
    ~CSDPParser() override;

    using CHTTPParser::Setup;
    // Read over the body of the response. JX_ERR_CONTENT when its Content-Type
    // is not application/sdp, JX_ERR_ARG when there is no body, else 0.
    int32_t Setup(CRTSPCommand& command);
    // The next non-empty line (m_Line), or null at the end of the body. Hides
    // the base's copying reader: the lines are the body's own bytes.
    const char* ParseNext();

    // The address of the last "c=IN IP4 " line read so far, without the
    // "/ttl/count" behind a multicast group; null when there was none. It
    // points into the body; m_ConnectLength bytes.
    const char* m_ConnectAddress = nullptr;
    int32_t m_ConnectLength = 0;
};
