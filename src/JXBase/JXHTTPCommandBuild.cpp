// HTTP-style message writer: request and response heads, bodies and chunks,
// with every line checked before it goes out.
#include "JXHTTPCommand.h"

#include <cstring>

namespace {

const char* DefaultReason(int32_t nCode)
{
    switch (nCode) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 454:
        return "Session Not Found";
    case 455:
        return "Method Not Valid in This State";
    case 461:
        return "Unsupported Transport";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

}   // namespace

bool CJXHTTPCommand::IsLineSafe(const char* pText, bool bBlanksAllowed)
{
    if (pText == nullptr) return false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pText); *p != 0; ++p) {
        if (*p < 0x20 || *p == 0x7F) return false;
        if (!bBlanksAllowed && *p == ' ') return false;
    }
    return true;
}

int32_t CJXHTTPCommand::BuildLine(CJXString& out, const char* pKey, uint32_t nValue)
{
    if (pKey == nullptr) return JX_ERR_ARG;
    return out.Append("%s%u\r\n", pKey, unsigned(nValue));
}

int32_t CJXHTTPCommand::BuildHeadLine(CJXString& out)
{
    if (!CJXString::IsEmpty(m_SessionID)) {
        if (m_SessionTimeout != 0) {
            if (out.Append("Session: %s;timeout=%u\r\n", m_SessionID, unsigned(m_SessionTimeout)) < 0) {
                return JX_ERR_NOMEM;
            }
        } else if (out.Append("Session: %s\r\n", m_SessionID) < 0) {
            return JX_ERR_NOMEM;
        }
    }
    if (!CJXString::IsEmpty(m_Transport) && out.Append("Transport: %s\r\n", m_Transport) < 0) return JX_ERR_NOMEM;
    if (!CJXString::IsEmpty(m_ContentType) && out.Append("Content-Type: %s\r\n", m_ContentType) < 0) {
        return JX_ERR_NOMEM;
    }
    if (!CJXString::IsEmpty(m_WWWAuthenticate) && out.Append("WWW-Authenticate: %s\r\n", m_WWWAuthenticate) < 0) {
        return JX_ERR_NOMEM;
    }
    return 1;
}

int32_t CJXHTTPCommand::FinishHead(CJXString& out, const CJXString* pBody)
{
    int32_t nRet = BuildHeadLine(out);
    if (nRet < 0) return nRet;
    int32_t nBody = pBody != nullptr ? pBody->m_Length : 0;
    if (nBody > 0 && BuildLine(out, "Content-Length: ", uint32_t(nBody)) < 0) return JX_ERR_NOMEM;
    if (out.AppendDAT("\r\n", 2) < 0) return JX_ERR_NOMEM;
    if (nBody > 0 && out.AppendDAT(pBody->m_Data, nBody) < 0) return JX_ERR_NOMEM;
    return JX_OK;
}

int32_t CJXHTTPCommand::BuildRequest(CJXString* pHead, CJXString* pBody)
{
    if (pHead == nullptr || CJXString::IsEmpty(m_Method) || CJXString::IsEmpty(m_Uri)) return JX_ERR_ARG;
    if (!IsLineSafe(m_Method, false) || !IsLineSafe(m_Uri, false)) return JX_ERR_ARG;
    if (pHead->Append("%s %s RTSP/1.0\r\n", m_Method, m_Uri) < 0) return JX_ERR_NOMEM;
    return FinishHead(*pHead, pBody);
}

int32_t CJXHTTPCommand::BuildResponse(CJXString* pHead, CJXString* pBody)
{
    if (pHead == nullptr || m_StatusCode < 100 || m_StatusCode > 999) return JX_ERR_ARG;
    const char* pReason = CJXString::IsEmpty(m_Reason) ? DefaultReason(m_StatusCode) : m_Reason;
    if (!IsLineSafe(pReason, true)) return JX_ERR_ARG;
    if (pHead->Append("RTSP/1.0 %d %s\r\n", int(m_StatusCode), pReason) < 0) return JX_ERR_NOMEM;
    return FinishHead(*pHead, pBody);
}

int32_t CJXHTTPCommand::BuildContent(CJXString& out, const char* pData, uint64_t nLen)
{
    if (nLen == 0) return 0;
    if (pData == nullptr || nLen > uint64_t(INT32_MAX)) return JX_ERR_ARG;
    return out.AppendDAT(pData, int32_t(nLen)) < 0 ? JX_ERR_NOMEM : int32_t(nLen);
}

int32_t CJXHTTPCommand::BuildChunked(CJXString& out, const char* pData, uint64_t nLen)
{
    if (nLen == 0) return out.AppendDAT("0\r\n\r\n", 5) < 0 ? JX_ERR_NOMEM : 5;
    if (pData == nullptr || nLen > uint64_t(INT32_MAX) - 16) return JX_ERR_ARG;
    int32_t nStart = out.m_Length;
    if (out.Append("%x\r\n", unsigned(nLen)) < 0) return JX_ERR_NOMEM;
    if (out.AppendDAT(pData, int32_t(nLen)) < 0 || out.AppendDAT("\r\n", 2) < 0) return JX_ERR_NOMEM;
    return out.m_Length - nStart;
}
