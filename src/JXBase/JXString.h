// Growable byte buffer with a NUL always kept behind the content.
#pragma once

#include "JXObject.h"

class JXBASE_API CJXString : public CJXObject {
public:
    // pText: initial content (may be null); nGrow: growth step in bytes for small
    // appends (the buffer grows at least geometrically, so appends are amortised).
    explicit CJXString(const char* pText = nullptr, int32_t nGrow = 5);
    CJXString(const CJXString& other);
    ~CJXString() override;

    // Read directly by callers. m_Data is null until the first reservation.
    char* m_Data = nullptr;
    int32_t m_Length = 0;   // bytes of content
    int32_t m_Size = 0;     // bytes reserved for content (one more is kept for the NUL)

    // Reserve room for at least n bytes of content; keeps the content. 0 or JX_ERR_NOMEM.
    int32_t Init(int32_t n);
    // Clear the content; bFree also releases the storage.
    void Empty(bool bFree = false);
    // Append printf-style text; returns the bytes appended or a negative code
    // (JX_ERR_NOMEM for a text over 16 MiB; the content is then unchanged).
    int32_t Append(const char* pFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    // Append n raw bytes; returns n or a negative code.
    int32_t AppendDAT(const void* pData, int32_t n);
    CJXString& operator=(const char* pText);
    CJXString& operator=(const CJXString& other);
    CJXString& operator+=(const char* pText);

    // Free room behind the content (without the NUL byte) and where it starts.
    int32_t GetSpace() const
    {
        return m_Size - m_Length;
    }
    char* GetTail()
    {
        return m_Data ? m_Data + m_Length : nullptr;
    }
    // Count n bytes written at GetTail() into the content (clamped to the space).
    void Add(int32_t n);
    // Drop the first n bytes of content (all when n >= length).
    void Flush(int32_t n);

    const char* c_str() const
    {
        return m_Data ? m_Data : "";
    }

    // NUL-ended heap copy of the first n bytes (n = 0: the whole C text), for free().
    // Null for a null text or when memory runs out.
    static char* Clone(const char* pText, int32_t n = 0);
    // True for a null pointer or an empty text.
    static bool IsEmpty(const char* pText)
    {
        return pText == nullptr || pText[0] == '\0';
    }
    // First character that is neither a space nor a tab.
    static const char* TrimL(const char* pText);
    // A blank between tokens of a header or attribute value: space, tab, CR or LF.
    static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    // Letter case aside, ASCII only: bytes above 0x7F are never folded, and the
    // result does not depend on the process locale.
    static char LowerAscii(char c)
    {
        return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    }
    // The n bytes at p (which need no NUL) are the whole NUL-ended word.
    static bool EqualNoCase(const char* p, int32_t n, const char* pWord);
    // The NUL-ended text begins with the NUL-ended prefix.
    static bool StartsWithNoCase(const char* pText, const char* pPrefix);
    // The NUL-ended text begins with the first nPrefix bytes of pPrefix; never
    // reads the text past its NUL.
    static bool StartsWithNoCase(const char* pText, const char* pPrefix, int32_t nPrefix);

private:
    int32_t Reserve(int32_t nNeeded);
    int32_t m_Grow;
};
