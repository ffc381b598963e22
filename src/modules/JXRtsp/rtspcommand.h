// The RTSP response reader of one stream (CRTSPCommand) and the values of the
// Authorization header it sends (CRTSPAuthen, Basic and Digest).
#pragma once

#include "JXRtspDefs.h"

// An HTTP-style response reader with the RTSP additions: the RTP-Info value,
// a CSeq line in built heads, and a ParseResponse that takes the head and as
// much of the body as has arrived, so a response can be consumed from the
// receive buffer piece by piece.
class JXRTSP_API CRTSPCommand : public CJXHTTPCommand {
public:
    CRTSPCommand();
    ~CRTSPCommand() override;

    // Bytes of pText taken: the head once it is complete (it is not taken
    // before), then body bytes up to the announced length. 0 when nothing
    // could be taken yet; negative for a malformed head (the base's code).
    int32_t ParseResponse(const char* pText, int32_t nLen) override;
    // Empty the response; the RTSP fields go too.
    int32_t Reset() override;
    // "RTP-Info:", "Content-Base:" and "Content-Location:" are kept here;
    // every other line goes to the base.
    int32_t ParseHeadLine(const char* pLine) override;
    // The base's head lines, then "CSeq: n". Returns 1.
    int32_t BuildHeadLine(CJXString& out) override;

    char* m_RtpInfo = nullptr;   // value of the last RTP-Info line; heap text or null
    // Of a DESCRIBE answer: the base of its relative URLs (RFC 2326 C.1.1);
    // heap text, blanks around cut, or null.
    char* m_ContentBase = nullptr;
    char* m_ContentLocation = nullptr;
    char* m_Location = nullptr;   // where a redirect sends the request

private:
    void ClearRtspFields();
};

// Authorization values for the stream's requests. The credentials and the
// server's challenge are kept by the base; this class writes the values.
class JXRTSP_API CRTSPAuthen : public CJXHTTPAuthen {
public:
    static constexpr int32_t kCNonceChars = 16;      // a client nonce of our own making
    static constexpr int32_t kMaxCNonceChars = 64;   // one given by SetNextCNonce

    CRTSPAuthen();
    ~CRTSPAuthen() override;

    // Append the Authorization value for one request: Basic until a Digest
    // challenge was understood, Digest after. 0, or JX_ERR_ARG (nothing
    // appended) when a required text is missing.
    int32_t BuildRequest(CJXString& out, const char* pMethod, const char* pUri);
    // "Basic " and Base64 of user:password (RFC 2617 section 2).
    int32_t BuildBasic(CJXString& out);
    // Digest credentials for one request (RFC 7616 section 3.4) with the
    // challenge's algorithm: MD5, MD5-sess, SHA-256 or SHA-256-sess. Without
    // qop in the challenge the RFC 2069 form; with qop "auth" offered, the
    // answer carries qop=auth, the next nc and a fresh cnonce. A -sess
    // algorithm always sends its cnonce, which the session key covers. The
    // opaque and algorithm values of the challenge are sent back whenever
    // there were some. JX_ERR_UNSUPPORTED (nothing appended) for any other
    // algorithm.
    int32_t BuildDigest(CJXString& out, const char* pMethod, const char* pUri);

    // Use this cnonce (at most kMaxCNonceChars characters) for the next Digest
    // answer that sends one instead of a random one; for checks against the
    // RFC's worked examples.
    void SetNextCNonce(const char* pCNonce);

private:
    void MakeCNonce(char* pOut);

    char m_NextCNonce[kMaxCNonceChars + 1] = {};
};
