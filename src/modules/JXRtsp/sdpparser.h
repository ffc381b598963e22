// Line reader over the SDP body of a DESCRIBE response.
#pragma once

#include "JXRtspDefs.h"

class CRTSPCommand;

// Reads the body of the stream's response in place, one line at a time; it
// copies nothing, so the response must not be reset while the reader is used.
// The session-level lines are read by CRTSPClient::ParseSDPHead, each media
// section by CRTPSocket::Open.
class JXRTSP_API CSDPParser : public CHTTPParser {
public:
    CSDPParser();
    ~CSDPParser() override;

    using CHTTPParser::Setup;
    // Read over the body of the response. JX_ERR_CONTENT when its Content-Type
    // is not application/sdp, JX_ERR_ARG when there is no body, else 0.
    int32_t Setup(CRTSPCommand& command);
};
