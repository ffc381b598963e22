// What a camera URL must be before a stream is made of it.
#include "stream_url.h"

#include "JXBase.h"
#include "jxrtsp.h"

#include <algorithm>
#include <cstring>

namespace {

const char kSchemeEnd[] = "://";
const uint32_t kMaxPort = 65535;

// A decimal port from 1 to kMaxPort (leading zeros allowed, as the URL reader does).
bool IsPort(const std::string& s)
{
    if (s.empty()) return false;
    uint32_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + uint32_t(c - '0');
        if (n > kMaxPort) return false;
    }
    return n != 0;
}

// The port text after the host ("" when none is written), or false when the
// host is missing.
bool SplitHostPort(const std::string& sHostPort, std::string& sPort)
{
    size_t nHostEnd = 0;
    if (!sHostPort.empty() && sHostPort[0] == '[') {
        nHostEnd = sHostPort.find(']');
        if (nHostEnd == std::string::npos || nHostEnd == 1) return false;
        ++nHostEnd;
    } else {
        nHostEnd = sHostPort.find(':');
        if (nHostEnd == std::string::npos) nHostEnd = sHostPort.size();
        if (nHostEnd == 0) return false;
    }
    sPort = nHostEnd < sHostPort.size() && sHostPort[nHostEnd] == ':' ? sHostPort.substr(nHostEnd + 1) : "";
    return true;
}

}   // namespace

bool CheckStreamUrl(const std::string& sUrl, std::string& sWhy)
{
    const size_t nSchemeEnd = sUrl.find(kSchemeEnd);
    if (nSchemeEnd == std::string::npos || nSchemeEnd == 0) {
        sWhy = "no scheme: write rtsp://, rtspu:// or rtspm:// before the host";
        return false;
    }
    const std::string sScheme = sUrl.substr(0, nSchemeEnd);
    if (JXRTSPSchemeOf(sScheme.c_str(), sScheme.size()) == JXRTSP_SCHEME_NONE) {
        sWhy = "unsupported scheme '" + sScheme + "': rtsp, rtspu or rtspm";
        return false;
    }
    const size_t nAuthority = nSchemeEnd + strlen(kSchemeEnd);
    const size_t nAuthorityEnd = std::min(sUrl.find_first_of("/?#", nAuthority), sUrl.size());
    const std::string sAuthority = sUrl.substr(nAuthority, nAuthorityEnd - nAuthority);
    const size_t nAt = sAuthority.rfind('@');
    if (nAt != std::string::npos && sAuthority.find('@') != nAt) {
        sWhy = "an '@' in the user name or password must be written %40";
        return false;
    }
    std::string sPort;
    if (!SplitHostPort(nAt == std::string::npos ? sAuthority : sAuthority.substr(nAt + 1), sPort)) {
        sWhy = "no host";
        return false;
    }
    if (!sPort.empty() && !IsPort(sPort)) {
        sWhy = "port '" + sPort + "' is not a number from 1 to 65535";
        return false;
    }
    CJXUrl url;
    if (url.Setup(sUrl.c_str()) != JX_OK || url.m_Host == nullptr) {
        sWhy = "the URL cannot be read (a blank, a control character or a bad %-escape)";
        return false;
    }
    return true;
}
