// Line reader over a text (an SDP body): one line at a time, without its line end.
#pragma once

#include "JXString.h"

class JXBASE_API CHTTPParser : public CJXObject {
public:
    static constexpr int32_t kMaxLineBytes = 4096;   // a longer line is cut to this

    CHTTPParser();
    ~CHTTPParser() override;
    CHTTPParser(const CHTTPParser&) = delete;
    CHTTPParser& operator=(const CHTTPParser&) = delete;

    // Read over nLen bytes of pText (not copied; the caller keeps it alive).
    // 0, or JX_ERR_ARG for a negative length or null text with a length.
    virtual int32_t Setup(const char* pText, int32_t nLen);
    // bAll: forget the text (the caller then sets m_Text, m_Length, m_Pos = 0);
    // otherwise rewind to the first line.
    virtual void Reset(bool bAll);
    // The next line, NUL-ended, without its line end (CR LF, LF or a bare CR);
    // null at the end. Also kept as m_Line until the next call. The line is a
    // copy: the text is not modified. A line longer than kMaxLineBytes is cut
    // there and the rest of it skipped.
    const char* ParseNext();

    const char* m_Text = nullptr;
    int32_t m_Length = 0;
    int32_t m_Pos = 0;
    const char* m_Line = nullptr;   // the current line, or null

private:
    CJXString m_LineBuf;
};
