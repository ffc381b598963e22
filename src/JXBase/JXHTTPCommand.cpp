// HTTP-style message reader shared by RTSP/1.0 and HTTP/1.x: the head, its
// lines and the body (JXHTTPCommandBuild.cpp writes messages).
#include "JXHTTPCommand.h"

#include "JXPrintf.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kMaxChunkLine = 1024;   // a chunk-size line with its extensions
constexpr int32_t kMaxMethodBytes = 32;
constexpr int32_t kMaxVersionDigits = 3;   // "1.0": at most three digits each side
constexpr uint32_t kMaxTimeout = 65535;    // the session timeout is kept in 16 bits
constexpr uint32_t kMaxCSeqDigits = 10;

// States of the chunked body decoder.
enum : int32_t {
    kChunkSize = 0,   // waiting for a chunk-size line
    kChunkData,       // chunk data bytes
    kChunkDataEnd,    // the line end behind the chunk data
    kChunkTrailer,    // trailer lines up to the empty line
    kChunkDone,
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// RFC 7230 tchar: the letters of a method or a token.
bool IsTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c)) return true;
    return c != '\0' && strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

const char* SkipBlanks(const char* p)
{
    while (IsBlank(*p))
        ++p;
    return p;
}

// Length of a value without its trailing blanks, CR and LF.
int32_t ValueLength(const char* pValue)
{
    size_t n = strlen(pValue);
    while (n > 0 && (IsBlank(pValue[n - 1]) || pValue[n - 1] == '\r' || pValue[n - 1] == '\n'))
        --n;
    return int32_t(n);
}

// Heap copy of exactly n bytes (n may be 0, giving "").
char* CloneN(const char* p, int32_t n)
{
    return n > 0 ? CJXString::Clone(p, n) : CJXString::Clone("");
}

// Where the value of pKey starts in pLine, or null when the line has another
// key. The key is compared up to its colon, letter case ignored.
const char* MatchKey(const char* pLine, const char* pKey)
{
    const int32_t nKey = int32_t(strcspn(pKey, ":"));
    if (!CJXString::StartsWithNoCase(pLine, pKey, nKey)) return nullptr;
    const char* p = SkipBlanks(pLine + nKey);
    if (*p != ':') return nullptr;
    return SkipBlanks(p + 1);
}

// "RTSP/" or "HTTP/", a version "d.d" and nothing else of p[0..n).
// Returns the bytes it covers, 0 when it is not one.
int32_t MatchProtocol(const char* p, int32_t n)
{
    if (n < 5 || (memcmp(p, "RTSP/", 5) != 0 && memcmp(p, "HTTP/", 5) != 0)) return 0;
    int32_t i = 5;
    int32_t nDigits = 0;
    while (i < n && IsDigit(p[i]) && nDigits < kMaxVersionDigits) {
        ++i;
        ++nDigits;
    }
    if (nDigits == 0 || i >= n || p[i] != '.') return 0;
    ++i;
    nDigits = 0;
    while (i < n && IsDigit(p[i]) && nDigits < kMaxVersionDigits) {
        ++i;
        ++nDigits;
    }
    if (nDigits == 0) return 0;
    return i;
}

struct SStatusLine {
    int32_t m_Code = 0;
    const char* m_Reason = nullptr;
    int32_t m_ReasonLen = 0;
};

// "RTSP/1.0 200 OK", "HTTP/1.1 404", "RTSP/1.0 200 " (n bytes, no line end).
bool ReadStatusLine(const char* p, int32_t n, SStatusLine& out)
{
    int32_t i = MatchProtocol(p, n);
    if (i == 0 || i >= n || !IsBlank(p[i])) return false;
    while (i < n && IsBlank(p[i]))
        ++i;
    if (n - i < 3 || !IsDigit(p[i]) || !IsDigit(p[i + 1]) || !IsDigit(p[i + 2])) return false;
    out.m_Code = (p[i] - '0') * 100 + (p[i + 1] - '0') * 10 + (p[i + 2] - '0');
    if (out.m_Code < 100) return false;
    i += 3;
    if (i < n && !IsBlank(p[i])) return false;   // "2000", "200OK"
    while (i < n && IsBlank(p[i]))
        ++i;
    int32_t nEnd = n;
    while (nEnd > i && IsBlank(p[nEnd - 1]))
        --nEnd;
    out.m_Reason = p + i;
    out.m_ReasonLen = nEnd - i;
    return true;
}

struct SRequestLine {
    const char* m_Method = nullptr;
    int32_t m_MethodLen = 0;
    const char* m_Uri = nullptr;
    int32_t m_UriLen = 0;
};

// "DESCRIBE rtsp://host/path RTSP/1.0" (n bytes, no line end).
bool ReadRequestLine(const char* p, int32_t n, SRequestLine& out)
{
    int32_t i = 0;
    while (i < n && IsTokenChar(p[i]))
        ++i;
    if (i == 0 || i > kMaxMethodBytes || i >= n || !IsBlank(p[i])) return false;
    out.m_Method = p;
    out.m_MethodLen = i;
    while (i < n && IsBlank(p[i]))
        ++i;
    int32_t nUri = i;
    while (i < n && !IsBlank(p[i]) && p[i] != '\r')
        ++i;
    if (i == nUri || i >= n) return false;
    out.m_Uri = p + nUri;
    out.m_UriLen = i - nUri;
    while (i < n && IsBlank(p[i]))
        ++i;
    int32_t nProto = MatchProtocol(p + i, n - i);
    if (nProto == 0) return false;
    i += nProto;
    while (i < n && IsBlank(p[i]))
        ++i;
    return i == n;
}

bool CheckFirstLine(const char* p, int32_t n, bool bRequest)
{
    if (bRequest) {
        SRequestLine line;
        return ReadRequestLine(p, n, line);
    }
    SStatusLine line;
    return ReadStatusLine(p, n, line);
}

// Whether the first n bytes of a status line can still become a valid one.
bool StatusPrefixOk(const char* p, int32_t n)
{
    int32_t nCheck = n < 5 ? n : 5;
    return memcmp(p, "RTSP/", size_t(nCheck)) == 0 || memcmp(p, "HTTP/", size_t(nCheck)) == 0;
}

int32_t SkipEmptyLines(const char* pText, int32_t nLen)
{
    int32_t i = 0;
    while (i < nLen && (pText[i] == '\r' || pText[i] == '\n'))
        ++i;
    return i;
}

// Calls fn(token, length) for each comma-separated token of p[0..n), blanks cut.
template <typename F>
void ForEachToken(const char* p, int32_t n, F fn)
{
    int32_t i = 0;
    while (i < n) {
        while (i < n && (IsBlank(p[i]) || p[i] == ','))
            ++i;
        int32_t nStart = i;
        while (i < n && p[i] != ',')
            ++i;
        int32_t nEnd = i;
        while (nEnd > nStart && IsBlank(p[nEnd - 1]))
            --nEnd;
        if (nEnd > nStart) fn(p + nStart, nEnd - nStart);
    }
}

}   // namespace

CJXHTTPCommand::CJXHTTPCommand() : m_Body(nullptr, 5) {}

CJXHTTPCommand::~CJXHTTPCommand()
{
    ClearFields();
}

void CJXHTTPCommand::ClearFields()
{
    free(m_SessionID);
    m_SessionID = nullptr;
    free(m_WWWAuthenticate);
    m_WWWAuthenticate = nullptr;
    free(m_Transport);
    m_Transport = nullptr;
    free(m_ContentType);
    m_ContentType = nullptr;
    free(m_Method);
    m_Method = nullptr;
    free(m_Uri);
    m_Uri = nullptr;
    free(m_Reason);
    m_Reason = nullptr;
}

void CJXHTTPCommand::RestartScan()
{
    m_ScanPos = 0;
    m_LineStart = 0;
    m_LineCount = 0;
}

int32_t CJXHTTPCommand::Reset()
{
    ClearFields();
    m_StatusCode = 0;
    m_CSeq = 0;
    m_SessionTimeout = 0;
    m_ContentLength = 0;
    m_Close = false;
    m_Chunked = false;
    m_Body.Empty(false);   // the storage is kept for the next message
    m_HeadLength = 0;
    m_HeadDone = false;
    m_BodyTaken = 0;
    m_LengthSeen = false;
    m_ChunkState = kChunkSize;
    m_ChunkLeft = 0;
    m_TrailerLines = 0;
    RestartScan();
    return JX_OK;
}

void CJXHTTPCommand::Dump()
{
    if (m_Method != nullptr) {
        JXPrintf("HTTPCommand: request %s %s, CSeq %u\n", m_Method, m_Uri ? m_Uri : "", unsigned(m_CSeq));
    } else {
        JXPrintf("HTTPCommand: status %d %s, CSeq %u\n", int(m_StatusCode), m_Reason ? m_Reason : "", unsigned(m_CSeq));
    }
    JXPrintf("HTTPCommand: session %s timeout %u, transport %s, content %s length %d (%d read)\n",
             m_SessionID ? m_SessionID : "-", unsigned(m_SessionTimeout), m_Transport ? m_Transport : "-",
             m_ContentType ? m_ContentType : "-", int(m_ContentLength), int(m_BodyTaken));
}

// Looks for the blank line that ends the head, resuming where the previous call
// stopped; checks the limits and the first line on the way, so a bad head is
// refused as soon as it shows. End of the head, 0 while incomplete, negative.
int32_t CJXHTTPCommand::FindHeadEnd(const char* pText, int32_t nLen, bool bRequest)
{
    if (nLen < m_ScanPos) RestartScan();   // not the bytes of the previous call
    int32_t nLimit = nLen < kMaxHeadBytes ? nLen : kMaxHeadBytes;
    if (nLimit > m_ScanPos) m_ScannedBytes += uint64_t(nLimit - m_ScanPos);
    if (m_LineCount == 0 && m_ScanPos == m_LineStart) {
        // Empty lines before the first line (left over behind a previous body).
        while (m_ScanPos < nLimit && (pText[m_ScanPos] == '\r' || pText[m_ScanPos] == '\n'))
            ++m_ScanPos;
        m_LineStart = m_ScanPos;
    }
    while (m_ScanPos < nLimit) {
        const char* pStart = pText + m_ScanPos;
        const char* pLF = static_cast<const char*>(memchr(pStart, '\n', size_t(nLimit - m_ScanPos)));
        int32_t nEnd = pLF ? int32_t(pLF - pText) : nLimit;
        if (memchr(pStart, '\0', size_t(nEnd - m_ScanPos)) != nullptr) return JX_ERR_CONTENT;
        if (pLF == nullptr) {
            m_ScanPos = nLimit;
            break;
        }
        int32_t nLine = nEnd - m_LineStart;
        if (nLine > 0 && pText[nEnd - 1] == '\r') --nLine;
        if (nLine > kMaxLineBytes) return JX_ERR_CONTENT;
        m_ScanPos = nEnd + 1;
        if (nLine == 0) return m_ScanPos;   // the blank line: end of the head
        if (m_LineCount == 0 && !CheckFirstLine(pText + m_LineStart, nLine, bRequest)) return JX_ERR_CONTENT;
        if (++m_LineCount > kMaxHeadLines + 1) return JX_ERR_CONTENT;
        m_LineStart = m_ScanPos;
    }
    // The blank line is not here yet: refuse what can no longer become a head.
    if (m_ScanPos - m_LineStart > kMaxLineBytes + 1) return JX_ERR_CONTENT;   // +1: a CR may follow
    if (m_LineCount == 0 && !bRequest && !StatusPrefixOk(pText + m_LineStart, m_ScanPos - m_LineStart)) {
        return JX_ERR_CONTENT;
    }
    if (m_LineCount == 0 && bRequest && m_ScanPos > m_LineStart && !IsTokenChar(pText[m_LineStart])) {
        return JX_ERR_CONTENT;
    }
    if (nLen >= kMaxHeadBytes) return JX_ERR_CONTENT;
    return 0;
}

int32_t CJXHTTPCommand::ParseFirstLine(const char* pLine, int32_t nLen, bool bRequest)
{
    if (bRequest) {
        SRequestLine line;
        if (!ReadRequestLine(pLine, nLen, line)) return JX_ERR_CONTENT;
        free(m_Method);
        m_Method = CloneN(line.m_Method, line.m_MethodLen);
        free(m_Uri);
        m_Uri = CloneN(line.m_Uri, line.m_UriLen);
        return (m_Method && m_Uri) ? JX_OK : JX_ERR_NOMEM;
    }
    SStatusLine line;
    if (!ReadStatusLine(pLine, nLen, line)) return JX_ERR_CONTENT;
    m_StatusCode = line.m_Code;
    free(m_Reason);
    m_Reason = line.m_ReasonLen > 0 ? CloneN(line.m_Reason, line.m_ReasonLen) : nullptr;
    return JX_OK;
}

int32_t CJXHTTPCommand::ParseHead(const char* pText, int32_t nLen, bool bRequest)
{
    if (m_HeadDone) return m_HeadLength;
    if (nLen <= 0) return 0;
    if (pText == nullptr) return JX_ERR_ARG;
    int32_t nEnd = FindHeadEnd(pText, nLen, bRequest);
    if (nEnd <= 0) {
        if (nEnd < 0) RestartScan();
        return nEnd;
    }
    char szLine[kMaxLineBytes + 1];
    int32_t nPos = SkipEmptyLines(pText, nEnd);
    bool bFirst = true;
    int32_t nRet = JX_OK;
    while (nPos < nEnd && nRet >= 0) {
        const char* pLF = static_cast<const char*>(memchr(pText + nPos, '\n', size_t(nEnd - nPos)));
        if (pLF == nullptr) break;   // cannot happen: the head ends in LF
        int32_t nLine = int32_t(pLF - (pText + nPos));
        if (nLine > 0 && pLF[-1] == '\r') --nLine;
        if (nLine == 0) break;                              // the blank line
        if (nLine > kMaxLineBytes) nLine = kMaxLineBytes;   // already refused by the scan
        memcpy(szLine, pText + nPos, size_t(nLine));
        szLine[nLine] = '\0';
        nPos = int32_t(pLF - pText) + 1;
        nRet = bFirst ? ParseFirstLine(szLine, nLine, bRequest) : ParseHeadLine(szLine);
        bFirst = false;
    }
    if (nRet < 0) {
        m_StatusCode = 0;
        RestartScan();
        return nRet;
    }
    if (!m_Chunked && m_ContentLength > 0 && m_Body.Init(m_Body.m_Length + m_ContentLength) < 0) {
        m_StatusCode = 0;
        RestartScan();
        return JX_ERR_NOMEM;
    }
    m_HeadLength = nEnd;
    m_HeadDone = true;
    return nEnd;
}

int32_t CJXHTTPCommand::ParseResponse(const char* pText, int32_t nLen)
{
    return ParseHead(pText, nLen, false);
}

int32_t CJXHTTPCommand::ParseRequest(const char* pText, int32_t nLen)
{
    return ParseHead(pText, nLen, true);
}

int32_t CJXHTTPCommand::RecvResponse(const char* pText, int32_t nLen, CJXString* pBody)
{
    return RecvMessage(pText, nLen, pBody, false);
}

int32_t CJXHTTPCommand::RecvRequest(const char* pText, int32_t nLen, CJXString* pBody)
{
    return RecvMessage(pText, nLen, pBody, true);
}

int32_t CJXHTTPCommand::RecvMessage(const char* pText, int32_t nLen, CJXString* pBody, bool bRequest)
{
    if (nLen <= 0) return 0;
    if (pText == nullptr) return JX_ERR_ARG;
    int32_t nHead = 0;
    if (!m_HeadDone) {
        // The base head reader on purpose: a derived ParseResponse may take the body itself.
        nHead = ParseHead(pText, nLen, bRequest);
        if (nHead <= 0) return nHead;
    }
    int32_t nBody = ParseContent(pText + nHead, nLen - nHead, pBody);
    return nBody < 0 ? nBody : nHead + nBody;
}

int32_t CJXHTTPCommand::ParseContent(const char* pData, int32_t nLen, CJXString* pBody)
{
    if (!m_HeadDone || nLen <= 0) return 0;
    if (pData == nullptr) return JX_ERR_ARG;
    if (m_Chunked) return ParseChunked(pData, nLen, pBody);
    if (pBody == nullptr) pBody = &m_Body;
    int32_t nLeft = m_ContentLength - m_BodyTaken;
    if (nLeft <= 0) return 0;
    int32_t nTake = nLen < nLeft ? nLen : nLeft;
    if (pBody->AppendDAT(pData, nTake) < 0) return JX_ERR_NOMEM;
    m_BodyTaken += nTake;
    return nTake;
}

// One line of the chunked framing (no line end), in the current state.
int32_t CJXHTTPCommand::TakeChunkLine(const char* pLine, int32_t nLen)
{
    switch (m_ChunkState) {
    case kChunkSize: {
        int32_t i = 0;
        int64_t nSize = 0;
        while (i < nLen) {
            char c = CJXString::LowerAscii(pLine[i]);
            int32_t nDigit = IsDigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
            if (nDigit < 0) break;
            nSize = nSize * 16 + nDigit;
            if (nSize > kMaxContent) return JX_ERR_CONTENT;
            ++i;
        }
        if (i == 0) return JX_ERR_CONTENT;
        while (i < nLen && IsBlank(pLine[i]))
            ++i;
        if (i < nLen && pLine[i] != ';') return JX_ERR_CONTENT;   // only extensions may follow
        if (nSize == 0) {
            m_ChunkState = kChunkTrailer;
            return JX_OK;
        }
        if (nSize > kMaxContent - m_BodyTaken) return JX_ERR_CONTENT;
        m_ChunkLeft = int32_t(nSize);
        m_ChunkState = kChunkData;
        return JX_OK;
    }
    case kChunkDataEnd:
        if (nLen != 0) return JX_ERR_CONTENT;
        m_ChunkState = kChunkSize;
        return JX_OK;
    case kChunkTrailer:
        if (nLen == 0) {
            m_ChunkState = kChunkDone;
            return JX_OK;
        }
        return (++m_TrailerLines > kMaxHeadLines) ? JX_ERR_CONTENT : JX_OK;
    default:
        return JX_ERR_STATE;
    }
}

int32_t CJXHTTPCommand::ParseChunked(const char* pData, int32_t nLen, CJXString* pBody)
{
    if (nLen <= 0) return 0;
    if (pData == nullptr) return JX_ERR_ARG;
    if (pBody == nullptr) pBody = &m_Body;
    int32_t nPos = 0;
    while (nPos < nLen && m_ChunkState != kChunkDone) {
        if (m_ChunkState == kChunkData) {
            int32_t nTake = nLen - nPos < m_ChunkLeft ? nLen - nPos : m_ChunkLeft;
            if (pBody->AppendDAT(pData + nPos, nTake) < 0) return JX_ERR_NOMEM;
            nPos += nTake;
            m_ChunkLeft -= nTake;
            m_BodyTaken += nTake;
            if (m_ChunkLeft == 0) m_ChunkState = kChunkDataEnd;
            continue;
        }
        const char* pLF = static_cast<const char*>(memchr(pData + nPos, '\n', size_t(nLen - nPos)));
        if (pLF == nullptr) {
            if (nLen - nPos > kMaxChunkLine + 1) return JX_ERR_CONTENT;
            break;   // the rest of the line comes later
        }
        int32_t nLine = int32_t(pLF - (pData + nPos));
        int32_t nText = (nLine > 0 && pLF[-1] == '\r') ? nLine - 1 : nLine;
        if (nText > kMaxChunkLine) return JX_ERR_CONTENT;
        int32_t nRet = TakeChunkLine(pData + nPos, nText);
        if (nRet < 0) return nRet;
        nPos += nLine + 1;
    }
    return nPos;
}

bool CJXHTTPCommand::IsCompleted() const
{
    if (!m_HeadDone) return false;
    if (m_Chunked) return m_ChunkState == kChunkDone;
    return m_BodyTaken >= m_ContentLength;
}

bool CJXHTTPCommand::ParseLine(char*& pField, const char* pLine, const char* pKey)
{
    if (pLine == nullptr || pKey == nullptr) return false;
    const char* pValue = MatchKey(pLine, pKey);
    if (pValue == nullptr) return false;
    char* pCopy = CloneN(pValue, ValueLength(pValue));
    free(pField);
    pField = pCopy;
    return true;
}

int32_t CJXHTTPCommand::ParseHeadLine(const char* pLine)
{
    if (pLine == nullptr) return 0;
    int32_t nRet = ParseLineContentLength(pLine);
    if (nRet == 0) nRet = ParseLineCSeq(pLine);
    if (nRet == 0) nRet = ParseLineSessionID(pLine);
    if (nRet != 0) return nRet;
    const char* pValue = MatchKey(pLine, "WWW-Authenticate:");
    if (pValue != nullptr) {
        // Several challenge lines become one list, as if sent on one line.
        int32_t nValue = ValueLength(pValue);
        if (nValue == 0) return 1;
        if (m_WWWAuthenticate == nullptr) {
            m_WWWAuthenticate = CloneN(pValue, nValue);
            return 1;
        }
        size_t nOld = strlen(m_WWWAuthenticate);
        char* pJoined = static_cast<char*>(malloc(nOld + 2 + size_t(nValue) + 1));
        if (pJoined == nullptr) return JX_ERR_NOMEM;
        memcpy(pJoined, m_WWWAuthenticate, nOld);
        memcpy(pJoined + nOld, ", ", 2);
        memcpy(pJoined + nOld + 2, pValue, size_t(nValue));
        pJoined[nOld + 2 + size_t(nValue)] = '\0';
        free(m_WWWAuthenticate);
        m_WWWAuthenticate = pJoined;
        return 1;
    }
    if (ParseLine(m_Transport, pLine, "Transport: ")) return 1;
    if (ParseLine(m_ContentType, pLine, "Content-Type: ")) return 1;
    nRet = ParseLineConnection(pLine);
    if (nRet == 0) nRet = ParseLineTransferEncoding(pLine);
    if (nRet == 0) nRet = ParseSetCookie(pLine);
    if (nRet != 0) return nRet;
    return ParseOther(pLine);
}

int32_t CJXHTTPCommand::ParseLineConnection(const char* pLine)
{
    const char* pValue = MatchKey(pLine, "Connection:");
    if (pValue == nullptr) return 0;
    ForEachToken(pValue, ValueLength(pValue), [this](const char* p, int32_t n) {
        if (CJXString::EqualNoCase(p, n, "close")) m_Close = true;
    });
    return 1;
}

int32_t CJXHTTPCommand::ParseLineTransferEncoding(const char* pLine)
{
    const char* pValue = MatchKey(pLine, "Transfer-Encoding:");
    if (pValue == nullptr) return 0;
    // Only the last coding frames the body: "chunked" is read, "identity" is
    // no coding at all; anything else cannot be read.
    const char* pLast = nullptr;
    int32_t nLast = 0;
    ForEachToken(pValue, ValueLength(pValue), [&](const char* p, int32_t n) {
        pLast = p;
        nLast = n;
    });
    if (pLast == nullptr || CJXString::EqualNoCase(pLast, nLast, "identity")) return 1;
    if (!CJXString::EqualNoCase(pLast, nLast, "chunked")) return JX_ERR_UNSUPPORTED;
    m_Chunked = true;
    return 1;
}

int32_t CJXHTTPCommand::ParseLineContentLength(const char* pLine)
{
    const char* pValue = MatchKey(pLine, "Content-Length:");
    if (pValue == nullptr) return 0;
    int32_t n = ValueLength(pValue);
    if (n == 0) return JX_ERR_CONTENT;
    int32_t nValue = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (!IsDigit(pValue[i])) return JX_ERR_CONTENT;   // sign, blank, letters
        nValue = nValue * 10 + (pValue[i] - '0');
        if (nValue > kMaxContent) return JX_ERR_CONTENT;   // checked before it can overflow
    }
    if (m_LengthSeen && nValue != m_ContentLength) return JX_ERR_CONTENT;   // two lengths: which one?
    m_ContentLength = nValue;
    m_LengthSeen = true;
    return 1;
}

int32_t CJXHTTPCommand::ParseLineSessionID(const char* pLine)
{
    const char* pValue = MatchKey(pLine, "Session:");
    if (pValue == nullptr) return 0;
    int32_t n = ValueLength(pValue);
    int32_t i = 0;
    while (i < n && pValue[i] != ';' && !IsBlank(pValue[i]))
        ++i;
    free(m_SessionID);
    m_SessionID = i > 0 ? CloneN(pValue, i) : nullptr;
    // Parameters: ";timeout=60", blanks tolerated around ';' and '='.
    while (i < n) {
        while (i < n && (IsBlank(pValue[i]) || pValue[i] == ';'))
            ++i;
        int32_t nName = i;
        while (i < n && pValue[i] != '=' && pValue[i] != ';' && !IsBlank(pValue[i]))
            ++i;
        int32_t nNameLen = i - nName;
        while (i < n && IsBlank(pValue[i]))
            ++i;
        if (i >= n || pValue[i] != '=') continue;
        ++i;
        while (i < n && IsBlank(pValue[i]))
            ++i;
        int32_t nDigits = i;
        uint32_t nTimeout = 0;
        while (i < n && IsDigit(pValue[i])) {
            nTimeout = nTimeout * 10 + uint32_t(pValue[i] - '0');
            if (nTimeout > kMaxTimeout) nTimeout = kMaxTimeout;
            ++i;
        }
        bool bNumber = i > nDigits && (i >= n || pValue[i] == ';' || IsBlank(pValue[i]));
        while (i < n && pValue[i] != ';')
            ++i;   // the rest of this parameter
        if (bNumber && CJXString::EqualNoCase(pValue + nName, nNameLen, "timeout")) {
            m_SessionTimeout = uint16_t(nTimeout);
        }
    }
    return 1;
}

int32_t CJXHTTPCommand::ParseLineCSeq(const char* pLine)
{
    const char* pValue = MatchKey(pLine, "CSeq:");
    if (pValue == nullptr) return 0;
    int32_t n = ValueLength(pValue);
    if (n == 0 || n > int32_t(kMaxCSeqDigits)) return 1;   // unusable: the line is known, the value ignored
    uint64_t nValue = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (!IsDigit(pValue[i])) return 1;
        nValue = nValue * 10 + uint64_t(pValue[i] - '0');
    }
    if (nValue > UINT32_MAX) return 1;
    m_CSeq = uint16_t(nValue & 0xFFFF);   // our own CSeq counts in 16 bits and wraps
    return 1;
}

int32_t CJXHTTPCommand::ParseSetCookie(const char* pLine)
{
    // Cookies are not kept; the line is known.
    return MatchKey(pLine, "Set-Cookie:") != nullptr ? 1 : 0;
}

int32_t CJXHTTPCommand::ParseOther(const char* /*pLine*/)
{
    return 1;
}
