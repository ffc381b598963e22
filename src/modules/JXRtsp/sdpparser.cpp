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
    m_ConnectAddress = nullptr;
    m_ConnectLength = 0;
    if (command.m_ContentType != nullptr && !IsSdpType(command.m_ContentType)) return JX_ERR_CONTENT;
    CJXString& body = command.m_Body;
    if (body.m_Data == nullptr || body.m_Length <= 0) return JX_ERR_ARG;
    // Every line end (CR, LF or both) becomes the NUL that ends its line.
    for (int32_t i = 0; i < body.m_Length; ++i) {
        if (body.m_Data[i] == '\r' || body.m_Data[i] == '\n') body.m_Data[i] = '\0';
    }
    m_Text = body.m_Data;
    m_Length = body.m_Length;
    m_Pos = 0;
    return JX_OK;
}

const char* CSDPParser::ParseNext()
{
    m_Line = nullptr;
    if (m_Text == nullptr || m_Pos < 0) return nullptr;
    // Blank lines (and the second byte of a CR LF) are skipped.
    while (m_Pos < m_Length && m_Text[m_Pos] == '\0')
        ++m_Pos;
    if (m_Pos >= m_Length) return nullptr;
    const char* pLine = m_Text + m_Pos;
    const void* pEnd = memchr(pLine, '\0', size_t(m_Length - m_Pos));
    const int32_t nLine = pEnd ? int32_t(static_cast<const char*>(pEnd) - pLine) : m_Length - int32_t(m_Pos);
    m_Pos += nLine;
    if (StartsWith(pLine, kConnectPrefix)) {
        m_ConnectAddress = pLine + sizeof(kConnectPrefix) - 1;
        m_ConnectLength = static_cast<int32_t>(strcspn(m_ConnectAddress, "/"));
    }
    m_Line = pLine;
    return m_Line;
}

int32_t CRTSPClient::ParseSDPConnect(CSDPParser& parser)
{
    // Every connection line of the description counts, session and media
    // level alike; the last one the walk passed wins.
    if (parser.m_ConnectAddress == nullptr) return JX_ERR_CONTENT;
    free(m_Connect);
    m_Connect = CJXString::Clone(parser.m_ConnectLength > 0 ? parser.m_ConnectAddress : "", parser.m_ConnectLength);
    return JX_OK;
}

int32_t CRTSPClient::ParseSDPHead(CSDPParser& parser)
{
    while (const char* pLine = parser.ParseNext()) {
        if (pLine[0] == 'm' && pLine[1] == '=') return JX_OK;   // the parser stays on it
        if (StartsWith(pLine, kControlPrefix)) {
            free(m_Control);
            m_Control = CJXString::Clone(pLine + sizeof(kControlPrefix) - 1);
        }
    }
    return JX_ERR_CONTENT;
}
