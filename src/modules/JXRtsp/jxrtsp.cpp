// Entry points and the stream factory.
#include "jxrtsp.h"

#include "rtspclient.h"

#include <cstring>

namespace {

const char kInterfaceName[] = "IJXStream";

bool IsAcceptedScheme(const char* pScheme, size_t nLen)
{
    return JXRTSPSchemeOf(pScheme, nLen) != JXRTSP_SCHEME_NONE;
}

// The scheme as the URL reader found it; when the URL could not be read, the
// text in front of "://", so a malformed http URL is still refused.
bool HasAcceptedScheme(const CJXUrl& url, const char* pText)
{
    if (url.m_Scheme != nullptr) return IsAcceptedScheme(url.m_Scheme, strlen(url.m_Scheme));
    const char* pSep = strstr(pText, "://");
    if (pSep == nullptr || !CJXUrl::IsAbsolute(pText)) return true;   // no scheme at all: the check does not apply
    return IsAcceptedScheme(pText, size_t(pSep - pText));
}

}   // namespace

extern "C" JXRTSP_API int JXRTSPGetAPI(void** pTable)
{
    if (pTable == nullptr) return JX_ERR_ARG;
    pTable[JXRTSP_API_INITIALIZE] = reinterpret_cast<void*>(&JXRTSPInitialize);
    pTable[JXRTSP_API_INVALIDATE] = reinterpret_cast<void*>(&JXRTSPInvalidate);
    pTable[JXRTSP_API_GETINTERFACE] = reinterpret_cast<void*>(&JXRTSPGetInterface);
    return JX_OK;
}

extern "C" JXRTSP_API int JXRTSPInitialize()
{
    // The shared worker is made by the first stream that starts: nothing to do.
    return JX_OK;
}

extern "C" JXRTSP_API int JXRTSPInvalidate()
{
    // A worker left by a stream that stopped itself from its callback, and
    // the name resolver, end here: no thread of the module outlives this.
    CRTSPSocket::RetireWorker();
    return JX_OK;
}

extern "C" JXRTSP_API IJXStream* JXRTSPGetInterface(const char* pName, const char* pUrl)
{
    if (CJXString::IsEmpty(pName) || CJXString::IsEmpty(pUrl)) return nullptr;
    CJXUrl url;
    url.Setup(pUrl);
    if (!HasAcceptedScheme(url, pUrl)) return nullptr;
    if (strcmp(pName, kInterfaceName) != 0) return nullptr;
    // The URL is not kept: the host gives it again with Open.
    return new CRTSPClient();
}
