// Line reader over a text held by the caller.
#include "HTTPParser.h"

#include <cstring>

CHTTPParser::CHTTPParser() : m_LineBuf(nullptr, 5) {}

CHTTPParser::~CHTTPParser() = default;

int32_t CHTTPParser::Setup(const char* pText, int32_t nLen)
{
    if (nLen < 0 || (pText == nullptr && nLen > 0)) {
        Reset(true);
        return JX_ERR_ARG;
    }
    m_Text = pText;
    m_Length = nLen;
    m_Pos = 0;
    m_Line = nullptr;
    return JX_OK;
}

void CHTTPParser::Reset(bool bAll)
{
    if (bAll) {
        m_Text = nullptr;
        m_Length = 0;
    }
    m_Pos = 0;
    m_Line = nullptr;
}

const char* CHTTPParser::ParseNext()
{
    m_Line = nullptr;
    if (m_Pos < 0) m_Pos = 0;   // the fields are public: never trust them
    if (m_Text == nullptr || m_Pos >= m_Length) return nullptr;
    if (m_LineBuf.m_Size < kMaxLineBytes && m_LineBuf.Init(kMaxLineBytes) < 0) return nullptr;

    const char* pStart = m_Text + m_Pos;
    int32_t nLeft = m_Length - m_Pos;
    int32_t nLine = 0;
    while (nLine < nLeft && pStart[nLine] != '\n' && pStart[nLine] != '\r')
        ++nLine;
    int32_t nNext = nLine;
    if (nNext < nLeft) {
        // CR LF is one line end; a bare CR or LF is one too.
        nNext += (pStart[nNext] == '\r' && nNext + 1 < nLeft && pStart[nNext + 1] == '\n') ? 2 : 1;
    }
    m_Pos += nNext;

    int32_t nCopy = nLine < kMaxLineBytes ? nLine : kMaxLineBytes;
    m_LineBuf.Empty(false);
    if (nCopy > 0 && m_LineBuf.AppendDAT(pStart, nCopy) < 0) return nullptr;
    m_Line = m_LineBuf.m_Data;   // NUL kept behind the content
    return m_Line;
}
