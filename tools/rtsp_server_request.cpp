// The parser looks for the end of the head within its bound before reading
// anything, so a peer that never ends its head costs at most kMaxHeadBytes.
#include "rtsp_server_request.h"

#include "JXBase.h"

#include <cstring>

namespace {
const char kVersion[] = "RTSP/1.0";
const size_t kMaxDigits = 18;   // CSeq and Content-Length: fit in int64

bool EqualsNoCase(const std::string& a, const char* b)
{
    return CJXString::EqualNoCase(a.data(), int32_t(a.size()), b);
}

std::string Trim(const std::string& s)
{
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// A decimal number of at most kMaxDigits digits, nothing else; -1 otherwise.
int64_t ParseDecimal(const std::string& s)
{
    if (s.empty() || s.size() > kMaxDigits) return -1;
    int64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// End of the head (after the empty line) within the first nLimit bytes, or 0.
// Lines may end with CRLF or LF alone.
size_t FindHeadEnd(const char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != '\n') continue;
        if (i + 1 < n && p[i + 1] == '\n') return i + 2;
        if (i + 2 < n && p[i + 1] == '\r' && p[i + 2] == '\n') return i + 3;
    }
    return 0;
}

bool HasControlBytes(const std::string& s)
{
    for (char c : s) {
        if ((unsigned char)c < ' ' && c != '\t') return true;
    }
    return false;
}
}   // namespace

const std::string* JXRtspRequest::Header(const char* pName) const
{
    for (const auto& h : headers) {
        if (EqualsNoCase(h.first, pName)) return &h.second;
    }
    return nullptr;
}

int32_t JXRtspParseRequest(const char* p, size_t n, JXRtspRequest& req, size_t& nConsumed)
{
    req = JXRtspRequest();
    nConsumed = 0;
    const size_t nLook = n < JXRtspRequest::kMaxHeadBytes ? n : JXRtspRequest::kMaxHeadBytes;
    const size_t nHead = FindHeadEnd(p, nLook);
    if (nHead == 0) return n >= JXRtspRequest::kMaxHeadBytes ? int32_t(JX_ERR_CONTENT) : int32_t(JX_RTSP_NEED_MORE);

    // Split into lines, the line ends and the empty last line dropped.
    std::vector<std::string> lines;
    size_t nStart = 0;
    for (size_t i = 0; i < nHead; ++i) {
        if (p[i] != '\n') continue;
        size_t nEnd = i;
        if (nEnd > nStart && p[nEnd - 1] == '\r') --nEnd;
        lines.emplace_back(p + nStart, nEnd - nStart);
        nStart = i + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.empty() || lines.size() - 1 > JXRtspRequest::kMaxHeaders) return JX_ERR_CONTENT;

    // Headers first: the CSeq is wanted even when the request line is bad.
    bool bBad = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t nColon = lines[i].find(':');
        if (nColon == std::string::npos || nColon == 0 || HasControlBytes(lines[i])) {
            bBad = true;
            continue;
        }
        req.headers.emplace_back(Trim(lines[i].substr(0, nColon)), Trim(lines[i].substr(nColon + 1)));
    }
    const std::string* pCSeq = req.Header("CSeq");
    if (pCSeq != nullptr) req.nCSeq = ParseDecimal(*pCSeq);

    const std::string& sLine = lines[0];
    const size_t nSp1 = sLine.find(' ');
    const size_t nSp2 = nSp1 == std::string::npos ? nSp1 : sLine.find(' ', nSp1 + 1);
    if (bBad || nSp2 == std::string::npos || HasControlBytes(sLine)) return JX_ERR_CONTENT;
    req.sMethod = sLine.substr(0, nSp1);
    req.sUri = sLine.substr(nSp1 + 1, nSp2 - nSp1 - 1);
    const std::string sVersion = sLine.substr(nSp2 + 1);
    if (req.sMethod.empty() || req.sUri.empty() || sVersion != kVersion) return JX_ERR_CONTENT;
    if (req.nCSeq < 0) return JX_ERR_CONTENT;   // every answer must carry the request's CSeq

    int64_t nBody = 0;
    const std::string* pLength = req.Header("Content-Length");
    if (pLength != nullptr) {
        nBody = ParseDecimal(*pLength);
        if (nBody < 0 || size_t(nBody) > JXRtspRequest::kMaxBodyBytes) return JX_ERR_CONTENT;
    }
    if (n - nHead < size_t(nBody)) return JX_RTSP_NEED_MORE;
    req.sBody.assign(p + nHead, size_t(nBody));
    nConsumed = nHead + size_t(nBody);
    return JX_OK;
}

std::string JXRtspUrlPath(const std::string& sUri)
{
    if (sUri == "*") return sUri;
    const char* kSchemes[] = {"rtsp://", "rtspu://", "rtsps://"};
    size_t nAfter = std::string::npos;
    for (const char* pScheme : kSchemes) {
        const size_t nLen = strlen(pScheme);
        if (sUri.size() >= nLen && EqualsNoCase(sUri.substr(0, nLen), pScheme)) nAfter = nLen;
    }
    if (nAfter == std::string::npos) return sUri[0] == '/' ? JXRtspUrlPath("rtsp://h" + sUri) : std::string();
    size_t nPath = sUri.find('/', nAfter);
    std::string sPath = nPath == std::string::npos ? std::string("/") : sUri.substr(nPath);
    const size_t nQuery = sPath.find('?');
    if (nQuery != std::string::npos) sPath.erase(nQuery);
    while (sPath.size() > 1 && sPath.back() == '/') sPath.pop_back();
    return sPath;
}
