// The stream URL as the requests use it.
#include "rtspurl.h"

#include "jxrtsp.h"
#include "rtpsocket.h"

#include <cstring>

// The URL text without "user:password@": RTSP request URLs carry no user
// information (RFC 2326 section 3.2), and sending it would put the password
// on the wire even when Digest is used.
char* CRTSPUrl::CloneWithoutUserInfo(const char* pText)
{
    if (pText == nullptr) return nullptr;
    const char* pSep = strstr(pText, "://");
    if (pSep == nullptr) return CJXString::Clone(pText);
    const char* pAuthority = pSep + 3;
    const size_t nAuthority = strcspn(pAuthority, "/?#");
    const char* pAt = nullptr;
    for (const char* p = pAuthority; p < pAuthority + nAuthority; ++p) {
        if (*p == '@') pAt = p;
    }
    if (pAt == nullptr) return CJXString::Clone(pText);
    CJXString out;
    out.AppendDAT(pText, static_cast<int32_t>(pAuthority - pText));
    out += pAt + 1;
    return CJXString::Clone(out.c_str());
}

int32_t CRTSPUrl::TransportOfScheme(const char* pScheme)
{
    const int32_t nScheme = pScheme != nullptr ? JXRTSPSchemeOf(pScheme, strlen(pScheme)) : JXRTSP_SCHEME_NONE;
    if (nScheme == JXRTSP_SCHEME_UDP) return CRTPSocket::kTransportUDP;
    if (nScheme == JXRTSP_SCHEME_MULTICAST) return CRTPSocket::kTransportMulticast;
    return CRTPSocket::kTransportInterleaved;
}
