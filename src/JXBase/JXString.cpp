// Growable byte buffer. Every size is checked before use and the content is
// always followed by a NUL, so m_Data can be read as C text at any time.
#include "JXString.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// Largest content the buffer holds; one byte more is kept for the NUL.
constexpr int64_t kMaxContent = 0x7FFFFFFE;
constexpr int32_t kMinReserve = 16;
// Longest text one printf-style Append may add; a longer one is refused.
constexpr int32_t kMaxAppendText = 16 << 20;
}   // namespace

CJXString::CJXString(const char* pText, int32_t nGrow) : m_Grow(nGrow > 0 ? nGrow : 1)
{
    if (pText != nullptr) {
        *this = pText;
    }
}

CJXString::CJXString(const CJXString& other) : CJXObject(), m_Grow(other.m_Grow)
{
    if (other.m_Length > 0) {
        AppendDAT(other.m_Data, other.m_Length);
    }
}

CJXString::~CJXString()
{
    free(m_Data);
}

int32_t CJXString::Reserve(int32_t nNeeded)
{
    if (nNeeded < 0 || nNeeded > kMaxContent) {
        return JX_ERR_NOMEM;
    }
    if (m_Data != nullptr && nNeeded <= m_Size) {
        return JX_OK;
    }
    // Grow geometrically so a run of small appends costs amortised O(1).
    int64_t nSize = static_cast<int64_t>(m_Size) * 2;
    if (nSize < static_cast<int64_t>(m_Size) + m_Grow) {
        nSize = static_cast<int64_t>(m_Size) + m_Grow;
    }
    if (nSize < kMinReserve) {
        nSize = kMinReserve;
    }
    if (nSize < nNeeded) {
        nSize = nNeeded;
    }
    if (nSize > kMaxContent) {
        nSize = kMaxContent;
    }
    char* pNew = static_cast<char*>(realloc(m_Data, static_cast<size_t>(nSize) + 1));
    if (pNew == nullptr) {
        return JX_ERR_NOMEM;
    }
    m_Data = pNew;
    m_Size = static_cast<int32_t>(nSize);
    m_Data[m_Length] = '\0';
    return JX_OK;
}

int32_t CJXString::Init(int32_t n)
{
    if (n < 0) {
        return JX_ERR_ARG;
    }
    return Reserve(n);
}

void CJXString::Empty(bool bFree)
{
    m_Length = 0;
    if (bFree) {
        free(m_Data);
        m_Data = nullptr;
        m_Size = 0;
        return;
    }
    if (m_Data != nullptr) {
        m_Data[0] = '\0';
    }
}

int32_t CJXString::Append(const char* pFormat, ...)
{
    if (pFormat == nullptr) {
        return JX_ERR_ARG;
    }
    int32_t nResult = Reserve(m_Length);
    if (nResult != JX_OK) {
        return nResult;
    }
    va_list args;
    va_start(args, pFormat);
    va_list retry;
    va_copy(retry, args);
    int nText = vsnprintf(m_Data + m_Length, static_cast<size_t>(GetSpace()) + 1, pFormat, args);
    va_end(args);
    if (nText < 0 || nText > kMaxAppendText) {
        va_end(retry);
        m_Data[m_Length] = '\0';
        return nText < 0 ? JX_ERR_FAIL : JX_ERR_NOMEM;
    }
    if (nText > GetSpace()) {
        // The text did not fit: restore the NUL, grow, format again.
        m_Data[m_Length] = '\0';
        int64_t nNeeded = static_cast<int64_t>(m_Length) + nText;
        nResult = nNeeded > kMaxContent ? JX_ERR_NOMEM : Reserve(static_cast<int32_t>(nNeeded));
        if (nResult != JX_OK) {
            va_end(retry);
            return nResult;
        }
        nText = vsnprintf(m_Data + m_Length, static_cast<size_t>(GetSpace()) + 1, pFormat, retry);
        if (nText < 0 || nText > GetSpace()) {
            va_end(retry);
            m_Data[m_Length] = '\0';
            return JX_ERR_FAIL;
        }
    }
    va_end(retry);
    m_Length += nText;
    m_Data[m_Length] = '\0';
    return nText;
}

int32_t CJXString::AppendDAT(const void* pData, int32_t n)
{
    if (n < 0 || (pData == nullptr && n > 0)) {
        return JX_ERR_ARG;
    }
    if (static_cast<int64_t>(m_Length) + n > kMaxContent) {
        return JX_ERR_NOMEM;
    }
    // The source may lie inside our own buffer, which Reserve can move.
    const char* pSrc = static_cast<const char*>(pData);
    int64_t nInside = -1;
    if (m_Data != nullptr && pSrc >= m_Data && pSrc <= m_Data + m_Size) {
        nInside = pSrc - m_Data;
    }
    int32_t nResult = Reserve(m_Length + n);
    if (nResult != JX_OK) {
        return nResult;
    }
    if (nInside >= 0) {
        pSrc = m_Data + nInside;
    }
    if (n > 0) {
        memmove(m_Data + m_Length, pSrc, static_cast<size_t>(n));
    }
    m_Length += n;
    m_Data[m_Length] = '\0';
    return n;
}

CJXString& CJXString::operator=(const char* pText)
{
    if (pText == nullptr) {
        Empty();
        return *this;
    }
    if (pText == m_Data) {
        return *this;
    }
    size_t nText = strlen(pText);
    if (nText > static_cast<size_t>(kMaxContent)) {
        Empty();
        return *this;
    }
    if (m_Data != nullptr && pText > m_Data && pText <= m_Data + m_Length) {
        // A tail of our own content: move it to the front.
        memmove(m_Data, pText, nText);
        m_Length = static_cast<int32_t>(nText);
        m_Data[m_Length] = '\0';
        return *this;
    }
    m_Length = 0;
    if (m_Data != nullptr) {
        m_Data[0] = '\0';
    }
    AppendDAT(pText, static_cast<int32_t>(nText));
    return *this;
}

CJXString& CJXString::operator=(const CJXString& other)
{
    if (this == &other) {
        return *this;
    }
    Empty();
    if (other.m_Length > 0) {
        AppendDAT(other.m_Data, other.m_Length);
    }
    return *this;
}

CJXString& CJXString::operator+=(const char* pText)
{
    if (pText == nullptr) {
        return *this;
    }
    size_t nText = strlen(pText);
    if (nText <= static_cast<size_t>(kMaxContent)) {
        AppendDAT(pText, static_cast<int32_t>(nText));
    }
    return *this;
}

void CJXString::Add(int32_t n)
{
    if (m_Data == nullptr || n <= 0) {
        return;
    }
    if (n > GetSpace()) {
        n = GetSpace();
    }
    m_Length += n;
    m_Data[m_Length] = '\0';
}

void CJXString::Flush(int32_t n)
{
    if (m_Data == nullptr || n <= 0) {
        return;
    }
    if (n >= m_Length) {
        m_Length = 0;
        m_Data[0] = '\0';
        return;
    }
    memmove(m_Data, m_Data + n, static_cast<size_t>(m_Length - n));
    m_Length -= n;
    m_Data[m_Length] = '\0';
}

char* CJXString::Clone(const char* pText, int32_t n)
{
    if (pText == nullptr || n < 0) {
        return nullptr;
    }
    size_t nCopy = 0;
    if (n == 0) {
        nCopy = strlen(pText);
    } else {
        // Never read past the end of a shorter text.
        const void* pEnd = memchr(pText, '\0', static_cast<size_t>(n));
        nCopy = pEnd ? static_cast<size_t>(static_cast<const char*>(pEnd) - pText) : static_cast<size_t>(n);
    }
    char* pCopy = static_cast<char*>(malloc(nCopy + 1));
    if (pCopy == nullptr) {
        return nullptr;
    }
    memcpy(pCopy, pText, nCopy);
    pCopy[nCopy] = '\0';
    return pCopy;
}

const char* CJXString::TrimL(const char* pText)
{
    if (pText == nullptr) {
        return nullptr;
    }
    while (*pText == ' ' || *pText == '\t') {
        ++pText;
    }
    return pText;
}

bool CJXString::EqualNoCase(const char* p, int32_t n, const char* pWord)
{
    int32_t i = 0;
    for (; i < n && pWord[i] != '\0'; ++i) {
        if (LowerAscii(p[i]) != LowerAscii(pWord[i])) {
            return false;
        }
    }
    return i == n && pWord[i] == '\0';
}

bool CJXString::StartsWithNoCase(const char* pText, const char* pPrefix)
{
    for (; *pPrefix != '\0'; ++pText, ++pPrefix) {
        if (LowerAscii(*pText) != LowerAscii(*pPrefix)) {
            return false;   // also where the text ends first
        }
    }
    return true;
}

bool CJXString::StartsWithNoCase(const char* pText, const char* pPrefix, int32_t nPrefix)
{
    for (int32_t i = 0; i < nPrefix; ++i) {
        if (pText[i] == '\0' || LowerAscii(pText[i]) != LowerAscii(pPrefix[i])) {
            return false;
        }
    }
    return true;
}
