// The Transport header's tokens, each number bounded before use.
#include "rtsptransport.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kAddressChars = 15;
constexpr uint32_t kMaxPort = 65535;
constexpr uint32_t kMaxChannel = 255;

// "N" or "N-M", decimal, filling the token: false when a number is missing,
// above nMax, or followed by anything else. A lone N gives N and N + 1.
bool ReadRange(const char* p, const char* pEnd, uint32_t nMax, uint32_t& nFirst, uint32_t& nSecond)
{
    uint32_t nValues[2] = {0, 0};
    int nCount = 0;
    while (nCount < 2) {
        if (p >= pEnd || *p < '0' || *p > '9') return false;
        uint32_t n = 0;
        while (p < pEnd && *p >= '0' && *p <= '9') {
            n = n * 10 + uint32_t(*p - '0');
            if (n > nMax) return false;
            ++p;
        }
        nValues[nCount++] = n;
        if (p == pEnd) break;
        if (*p != '-' || nCount == 2) return false;
        ++p;
    }
    nFirst = nValues[0];
    nSecond = nCount == 2 ? nValues[1] : nValues[0] + 1;
    return nSecond <= nMax;
}

// The value behind "key=" when the token starts with it (letter case aside), else null.
const char* ParamValue(const char* pToken, size_t nToken, const char* pKey)
{
    const size_t nKey = strlen(pKey);
    if (nToken < nKey || !CJXString::EqualNoCase(pToken, int32_t(nKey), pKey)) return nullptr;
    return pToken + nKey;
}

}   // namespace

void CRTSPTransport::Read(const char* pValue)
{
    if (pValue == nullptr) return;
    while (*pValue != '\0') {
        // Blanks around a token are a camera's, not part of it.
        pValue = CJXString::TrimL(pValue);
        size_t nToken = strcspn(pValue, ";");
        const char* pNext = pValue + nToken;
        while (nToken > 0 && (pValue[nToken - 1] == ' ' || pValue[nToken - 1] == '\t'))
            --nToken;
        ReadToken(pValue, nToken);
        pValue = *pNext == ';' ? pNext + 1 : pNext;
    }
}

void CRTSPTransport::ReadToken(const char* pToken, size_t nToken)
{
    const char* pEnd = pToken + nToken;
    const int32_t nLen = static_cast<int32_t>(nToken);
    // The last transport named wins.
    // RTP/AVP/UDP is RTP/AVP with its lower transport written out (RFC 2326
    // section 12.39); VLC answers with it.
    if (CJXString::EqualNoCase(pToken, nLen, "RTP/AVP") || CJXString::EqualNoCase(pToken, nLen, "RTP/AVP/UDP")) {
        m_Mode = kModeUDP;
    } else if (CJXString::EqualNoCase(pToken, nLen, "RTP/AVP/TCP")) {
        m_Mode = kModeInterleaved;
    } else if (CJXString::EqualNoCase(pToken, nLen, "multicast")) {
        m_Mode = kModeMulticast;
    } else if (const char* pValue = ParamValue(pToken, nToken, "interleaved=")) {
        m_HasChannels = true;
        if (!ReadRange(pValue, pEnd, kMaxChannel, m_First, m_Second)) m_Usable = false;
    } else if ((pValue = ParamValue(pToken, nToken, "server_port=")) != nullptr ||
               (pValue = ParamValue(pToken, nToken, "port=")) != nullptr) {
        if (!ReadRange(pValue, pEnd, kMaxPort, m_First, m_Second) || m_First == 0) m_Usable = false;
    } else if ((pValue = ParamValue(pToken, nToken, "client_port=")) != nullptr) {
        // The client's own ports: the answer's usability does not hang on them.
        if (!ReadRange(pValue, pEnd, kMaxPort, m_ClientFirst, m_ClientSecond)) m_ClientFirst = 0;
    } else if ((pValue = ParamValue(pToken, nToken, "destination=")) != nullptr) {
        size_t n = strcspn(pValue, " \t;");
        if (pValue + n > pEnd) n = size_t(pEnd - pValue);
        if (n > kMaxDestinationChars) n = kMaxDestinationChars;
        memcpy(m_Destination, pValue, n);
        m_Destination[n] = '\0';
    } else if ((pValue = ParamValue(pToken, nToken, "source=")) != nullptr) {
        // RFC 2326 12.39: the media come from this address, not the server's.
        char text[kAddressChars + 1] = {};
        const size_t n = size_t(pEnd - pValue);
        in_addr addr;
        m_SourceIP = 0;
        if (n <= kAddressChars) {
            memcpy(text, pValue, n);
            if (inet_pton(AF_INET, text, &addr) == 1) m_SourceIP = addr.s_addr;
        }
    } else if ((pValue = ParamValue(pToken, nToken, "ssrc=")) != nullptr) {
        m_SSRC = static_cast<uint32_t>(strtoul(pValue, nullptr, 16));
    }
}
