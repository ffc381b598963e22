// The base reader takes the head; the body is taken only when all of it is
// there, so the server keeps one whole request in its buffer at a time and
// never has to hold a half-read one across passes.
#include "rtsp_server_request.h"

#include "jxrtsp.h"

#include <cstdlib>
#include <cstring>

namespace {
const char kAuthorizationKey[] = "Authorization: ";
const char kCSeqKey[] = "CSeq: ";
const char kVersion[] = " RTSP/1.0";
const size_t kMaxCSeqDigits = 18;   // fits in int64

// The request line: the first line that is not empty (the base reader skips
// empty lines before it); null when there is none.
const char* FirstLine(CHTTPParser& lines, const char* p, int32_t n)
{
    if (lines.Setup(p, n) != JX_OK) return nullptr;
    const char* pLine = lines.ParseNext();
    while (pLine != nullptr && *pLine == '\0') pLine = lines.ParseNext();
    return pLine;
}

bool HasControlBytes(const char* p)
{
    for (; *p != '\0'; ++p) {
        if ((unsigned char)*p < ' ' && *p != '\t') return true;
    }
    return false;
}
}   // namespace

CRtspServerRequest::~CRtspServerRequest()
{
    ClearServerFields();
}

void CRtspServerRequest::ClearServerFields()
{
    free(m_Authorization);
    m_Authorization = nullptr;
    m_RequestCSeq = -1;
    m_HasSession = false;
    m_HeaderLines = 0;
}

int32_t CRtspServerRequest::Reset()
{
    ClearServerFields();
    return CJXHTTPCommand::Reset();
}

int32_t CRtspServerRequest::ParseHeadLine(const char* pLine)
{
    const char* pColon = strchr(pLine, ':');
    if (++m_HeaderLines > kMaxHeaders || pColon == nullptr || pColon == pLine || HasControlBytes(pLine)) {
        return JX_ERR_CONTENT;
    }
    if (ParseLine(m_Authorization, pLine, kAuthorizationKey)) return 1;
    return CJXHTTPCommand::ParseHeadLine(pLine);
}

int32_t CRtspServerRequest::ParseLineCSeq(const char* pLine)
{
    const int32_t nRet = CJXHTTPCommand::ParseLineCSeq(pLine);
    char* pValue = nullptr;
    if (nRet <= 0 || !ParseLine(pValue, pLine, kCSeqKey)) return nRet;
    const size_t nDigits = pValue != nullptr ? strlen(pValue) : 0;
    m_RequestCSeq = nDigits > 0 && nDigits <= kMaxCSeqDigits ? 0 : -1;
    for (size_t i = 0; i < nDigits && m_RequestCSeq >= 0; ++i) {
        const char c = pValue[i];
        m_RequestCSeq = c >= '0' && c <= '9' ? m_RequestCSeq * 10 + (c - '0') : -1;
    }
    free(pValue);
    return nRet;
}

int32_t CRtspServerRequest::ParseLineSessionID(const char* pLine)
{
    const int32_t nRet = CJXHTTPCommand::ParseLineSessionID(pLine);
    if (nRet > 0) m_HasSession = true;
    return nRet;
}

int32_t CRtspServerRequest::Read(const char* p, size_t n, size_t& nConsumed)
{
    nConsumed = 0;
    const int32_t nLook = int32_t(n < kMaxHeadBytes ? n : kMaxHeadBytes);
    const int32_t nHead = ParseRequest(p, nLook);
    if (nHead == 0) return n >= kMaxHeadBytes ? int32_t(JX_ERR_CONTENT) : int32_t(JX_RTSP_NEED_MORE);
    if (nHead < 0 || !IsRtspRequestLine(p, nHead)) {
        if (m_RequestCSeq < 0) FindCSeq(p, nLook);
        return JX_ERR_CONTENT;
    }
    // Every answer must carry the request's CSeq; RTSP bodies are never chunked.
    if (m_RequestCSeq < 0 || m_Chunked || m_ContentLength > kMaxBodyBytes) return JX_ERR_CONTENT;
    const size_t nBody = size_t(m_ContentLength);
    if (n - size_t(nHead) < nBody) return JX_RTSP_NEED_MORE;
    if (ParseContent(p + nHead, m_ContentLength, nullptr) != m_ContentLength) return JX_ERR_CONTENT;
    nConsumed = size_t(nHead) + nBody;
    return JX_OK;
}

bool CRtspServerRequest::IsRtspRequestLine(const char* p, int32_t n) const
{
    CHTTPParser lines;
    const char* pLine = FirstLine(lines, p, n);
    if (pLine == nullptr || HasControlBytes(pLine)) return false;
    const size_t nLine = strlen(pLine);
    const size_t nVersion = strlen(kVersion);
    return nLine > nVersion && strcmp(pLine + nLine - nVersion, kVersion) == 0;
}

void CRtspServerRequest::FindCSeq(const char* p, int32_t n)
{
    CHTTPParser lines;
    if (FirstLine(lines, p, n) == nullptr) return;
    // The header lines, up to the blank one.
    for (const char* pLine = lines.ParseNext(); pLine != nullptr && *pLine != '\0'; pLine = lines.ParseNext()) {
        ParseLineCSeq(pLine);
    }
}

std::string CRtspServerRequest::Path() const
{
    if (m_Uri == nullptr) return std::string();
    if (strcmp(m_Uri, "*") == 0) return m_Uri;
    std::string sPath;
    if (m_Uri[0] == '/') {
        sPath = std::string(m_Uri, strcspn(m_Uri, "?"));
    } else {
        const CJXUrl url(m_Uri);
        if (url.m_Scheme == nullptr || JXRTSPSchemeOf(url.m_Scheme, strlen(url.m_Scheme)) == JXRTSP_SCHEME_NONE) {
            return std::string();
        }
        sPath = url.m_Path != nullptr ? url.m_Path : "";
    }
    while (!sPath.empty() && sPath.back() == '/') sPath.pop_back();
    return sPath.empty() ? std::string("/") : sPath;
}
