// The control connection's bytes split into responses, interleaved frames,
// requests from the server and stray bytes.
#include "rtspreader.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kResponsePrefix[] = "RTSP/";
const char kForeignPrefix[] = "HTTP/";   // a web server's answer to our request
constexpr int32_t kResponsePrefixLen = 5;
constexpr int32_t kMaxMethodChars = 32;

bool IsMethodChar(char c)
{
    return (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
}

// A byte at which a frame ('$'), a response ("RTSP/") or a request from the
// server (a method in capitals) can begin.
bool CanBeginUnit(char c)
{
    return c == '$' || (c >= 'A' && c <= 'Z');
}

// Whether the bytes begin "METHOD ", as a request from the server does: 1
// yes, 0 when they may still, -1 when they cannot.
int32_t MatchMethod(const char* p, int32_t n)
{
    int32_t i = 0;
    while (i < n && i < kMaxMethodChars && IsMethodChar(p[i]))
        ++i;
    if (i == n) return i < kMaxMethodChars ? 0 : -1;
    return i > 0 && p[i] == ' ' ? 1 : -1;
}

}   // namespace

// ---------------------------------------------------------------------------
// CRTSPServerRequest

int32_t CRTSPServerRequest::Reset()
{
    m_CSeqText[0] = '\0';
    return CJXHTTPCommand::Reset();
}

int32_t CRTSPServerRequest::ParseHeadLine(const char* pLine)
{
    char* pValue = nullptr;
    if (ParseLine(pValue, pLine, "CSeq: ")) {
        // Digits only, and only as many as fit: the value goes back on the wire.
        const size_t nDigits = strspn(pValue, "0123456789");
        if (nDigits > 0 && nDigits <= size_t(kMaxCSeqChars) && pValue[nDigits] == '\0') {
            memcpy(m_CSeqText, pValue, nDigits + 1);
        }
        free(pValue);
    }
    return CJXHTTPCommand::ParseHeadLine(pLine);
}

// ---------------------------------------------------------------------------
// CRTSPReader

CRTSPReader::CRTSPReader(IRTSPReaderSink& sink, CRTSPCommand& response) : m_Sink(sink), m_Response(response) {}

int32_t CRTSPReader::Read(const char* pData, int32_t nLen)
{
    int32_t nPos = 0;
    while (nPos < nLen && m_Sink.KeepReading()) {
        const int32_t nRet = TakeUnit(pData + nPos, nLen - nPos);
        if (nRet < 0) return nRet;
        if (nRet == 0) break;   // the rest is incomplete
        nPos += nRet;
    }
    return nPos;
}

int32_t CRTSPReader::TakeUnit(const char* p, int32_t n)
{
    if (m_Response.m_StatusCode != 0) return TakeResponse(p, n);   // inside a response's body
    if (m_InRequest) return TakeServerRequest(p, n);
    if (p[0] == '$') return TakeFrame(p, n);
    int32_t nLen = 0;
    switch (ClassifyText(p, n, nLen)) {
    case kUnitResponse:
        return TakeResponse(p, n);
    case kUnitRequest:
        m_InRequest = true;
        return TakeServerRequest(p, n);
    case kUnitStray:
        return SkipStray(nLen);
    case kUnitForeign:
        m_ForeignAnswer = true;
        JXPrintf("RTSP Client(%s): the server answered in another protocol.\n", m_Sink.LogName());
        return JX_ERR_CONTENT;
    default:
        return 0;
    }
}

int32_t CRTSPReader::TakeResponse(const char* p, int32_t n)
{
    const int32_t nTaken = m_Response.ParseResponse(p, n);
    if (nTaken < 0) return nTaken;
    if (m_Response.m_StatusCode == 0 || !m_Response.IsCompleted()) return nTaken;
    m_Answered = true;
    if (!m_Sink.IsAwaited(m_Response)) {
        // Read to its end and dropped, so that it holds up nothing behind it.
        ++m_UnsolicitedResponses;
        if (!m_UnsolicitedLogged) {
            m_UnsolicitedLogged = true;
            JXPrintf("RTSP Client(%s): State Error\n", m_Sink.LogName());
        }
        m_Response.Reset();
        return nTaken;
    }
    const int32_t nResult = m_Sink.OnResponse(m_Response);
    // After the handler: it parses the body (the description) in place.
    m_Response.Reset();
    return nResult != JX_OK ? nResult : nTaken;
}

int32_t CRTSPReader::TakeFrame(const char* p, int32_t n)
{
    if (n < kFrameHeadBytes) return 0;
    const unsigned char* pHead = reinterpret_cast<const unsigned char*>(p);
    const int32_t nBody = (pHead[2] << 8) | pHead[3];
    if (n < nBody + kFrameHeadBytes) return 0;
    const int32_t nRet = m_Sink.OnPacket(pHead[1], p + kFrameHeadBytes, static_cast<uint32_t>(nBody));
    if (nRet < 0) JXPrintf("Parse RTP/RTCP Data Error(ret = %d).\n", nRet);
    return nBody + kFrameHeadBytes;   // a bad packet is skipped, never stalls the connection
}

void CRTSPReader::Reset()
{
    m_Response.Reset();
    m_Request.Reset();
    m_InRequest = false;
    m_ForeignAnswer = false;
    m_Answered = false;
    m_StrayBytes = 0;
    m_ServerRequests = 0;
    m_UnsolicitedResponses = 0;
    m_StrayLogged = false;
    m_RequestLogged = false;
    m_UnsolicitedLogged = false;
}

uint64_t CRTSPReader::ExaminedBytes() const
{
    return m_ClassifiedBytes + m_Response.m_ScannedBytes + m_Request.m_ScannedBytes;
}

int32_t CRTSPReader::SkipStray(int32_t nLen)
{
    m_StrayBytes += static_cast<uint32_t>(nLen);
    if (!m_StrayLogged) {
        m_StrayLogged = true;
        JXPrintf("RTSP Client(%s): Skipping stray bytes on the connection.\n", m_Sink.LogName());
    }
    return nLen;
}

// What the bytes at a unit boundary (nothing half read) begin. Only the
// first bytes are looked at: the heads themselves are read by the message
// readers, which resume where they stopped.
CRTSPReader::EUnit CRTSPReader::ClassifyText(const char* p, int32_t n, int32_t& nLen)
{
    // Never decide on fewer bytes than "RTSP/" while they still match it.
    int32_t k = 0;
    while (k < n && k < kResponsePrefixLen && p[k] == kResponsePrefix[k])
        ++k;
    m_ClassifiedBytes += static_cast<uint64_t>(k < n ? k + 1 : k);
    if (k == kResponsePrefixLen) return kUnitResponse;
    if (k == n) return kUnitWait;
    // Only before the first response: later, such text among interleaved
    // frames is taken for what it most likely is, stray bytes.
    if (!m_Answered && n >= kResponsePrefixLen && memcmp(p, kForeignPrefix, kResponsePrefixLen) == 0) {
        return kUnitForeign;
    }
    if (p[0] >= 'A' && p[0] <= 'Z') {
        const int32_t nMatch = MatchMethod(p, n);
        m_ClassifiedBytes += static_cast<uint64_t>(n < kMaxMethodChars ? n : kMaxMethodChars);
        if (nMatch > 0) return kUnitRequest;
        if (nMatch == 0) return kUnitWait;
    }
    int32_t i = 1;
    while (i < n && !CanBeginUnit(p[i]))
        ++i;
    m_ClassifiedBytes += static_cast<uint64_t>(i);
    nLen = i;
    return kUnitStray;
}

// A request from the server: read with the message reader (head, then any
// body), then handed on to be answered. Text that turns out not to be a
// request is skipped as stray bytes, its first word at a time.
int32_t CRTSPReader::TakeServerRequest(const char* p, int32_t n)
{
    const int32_t nTaken = m_Request.RecvRequest(p, n, nullptr);
    if (nTaken < 0) {
        m_Request.Reset();
        m_InRequest = false;
        const char* pBlank = static_cast<const char*>(memchr(p, ' ', static_cast<size_t>(n)));
        return SkipStray(pBlank != nullptr ? static_cast<int32_t>(pBlank - p) + 1 : n);
    }
    if (!m_Request.IsCompleted()) return nTaken;
    ++m_ServerRequests;
    if (!m_RequestLogged) {
        m_RequestLogged = true;
        JXPrintf("RTSP Client(%s): Answering a request from the server (%s).\n", m_Sink.LogName(),
                 m_Request.m_Method ? m_Request.m_Method : "");
    }
    m_Sink.OnServerRequest(m_Request);
    m_Request.Reset();
    m_InRequest = false;
    return nTaken;
}
