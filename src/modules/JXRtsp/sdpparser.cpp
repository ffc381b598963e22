// SDP reading: the line reader over a DESCRIBE body and the two passes of the
// client over the session level (connection address, session control).
#include "sdpparser.h"

#include "rtspclient.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kSdpType[] = "application/sdp";
const char kConnectPrefix[] = "c=IN IP4 ";
const char kControlPrefix[] = "a=control:";

bool StartsWith(const char* pText, const char* pPrefix)
{
    return strncmp(pText, pPrefix, strlen(pPrefix)) == 0;
}

// The media type of a Content-Type value is application/sdp, letter case
// aside. Parameters behind ';' (a charset) and blanks around do not count.
bool IsSdpType(const char* pValue)
{
    const char* p = CJXString::TrimL(pValue);
    size_t nLen = strcspn(p, ";");
    while (nLen > 0 && (p[nLen - 1] == ' ' || p[nLen - 1] == '\t'))
        --nLen;
    return CJXString::EqualNoCase(p, int32_t(nLen), kSdpType);
}

}   // namespace

CSDPParser::CSDPParser() = default;

CSDPParser::~CSDPParser() = default;

int32_t CSDPParser::Setup(CRTSPCommand& command)
{
    Reset(true);
    if (command.m_ContentType != nullptr && !IsSdpType(command.m_ContentType)) return JX_ERR_CONTENT;
    if (command.m_Body.m_Data == nullptr || command.m_Body.m_Length == 0) return JX_ERR_ARG;
    m_Text = command.m_Body.m_Data;
    m_Length = command.m_Body.m_Length;
    m_Pos = 0;
    return JX_OK;
}

int32_t CRTSPClient::ParseSDPConnect(CSDPParser& parser)
{
    // Every connection line of the description counts, session and media
    // level alike; the last one wins. "/ttl/count" behind a multicast group
    // is dropped.
    while (const char* pLine = parser.ParseNext()) {
        if (!StartsWith(pLine, kConnectPrefix)) continue;
        const char* pAddress = pLine + sizeof(kConnectPrefix) - 1;
        const int32_t nLen = static_cast<int32_t>(strcspn(pAddress, "/"));
        free(m_Connect);
        m_Connect = nLen > 0 ? CJXString::Clone(pAddress, nLen) : CJXString::Clone("");
    }
    return JX_ERR_CONTENT;
}

int32_t CRTSPClient::ParseSDPHead(CSDPParser& parser)
{
    ParseSDPConnect(parser);
    parser.Reset(false);
    while (const char* pLine = parser.ParseNext()) {
        if (pLine[0] == 'm' && pLine[1] == '=') return JX_OK;   // the parser stays on it
        if (StartsWith(pLine, kControlPrefix)) {
            free(m_Control);
            m_Control = CJXString::Clone(pLine + sizeof(kControlPrefix) - 1);
        }
    }
    return JX_ERR_CONTENT;
}
