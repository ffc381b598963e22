// HTTP-style message reader and writer (RTSP/1.0 and HTTP/1.x share it).
// Bounded everywhere: a head longer than kMaxHeadBytes, more than kMaxHeadLines
// header lines, a line longer than kMaxLineBytes or a Content-Length above
// kMaxContent is refused (JX_ERR_CONTENT), never waited for.
//
// Reading a message: until its head is complete, pass the bytes from the start
// of the message on every call, more of them each time (the search for the blank
// line resumes where the previous call stopped). Once the head is read, pass only
// the bytes behind what was consumed to ParseContent. Reset before the next message.
// Line ends may be CR LF or a bare LF, mixed; empty lines before the first line
// are skipped. A NUL byte in the head is refused.
#pragma once

#include "JXString.h"

class JXBASE_API CJXHTTPCommand : public CJXObject {
public:
    static constexpr int32_t kMaxContent = 262144;   // the control connection's receive buffer
    static constexpr int32_t kMaxHeadBytes = 65536;
    static constexpr int32_t kMaxHeadLines = 255;
    static constexpr int32_t kMaxLineBytes = 8192;

    CJXHTTPCommand();
    ~CJXHTTPCommand() override;
    CJXHTTPCommand(const CJXHTTPCommand&) = delete;
    CJXHTTPCommand& operator=(const CJXHTTPCommand&) = delete;

    // The virtual slots, in this order (derived readers rely on it).
    virtual void Dump();
    // Write the request line, the head lines (BuildHeadLine) and the blank line
    // into pHead; the body, if any, after it.
    virtual int32_t BuildRequest(CJXString* pHead, CJXString* pBody);
    // Read a request head: method, URI, version and header lines. Length of the
    // head, 0 while incomplete, negative when malformed or too long.
    virtual int32_t ParseRequest(const char* pText, int32_t nLen);
    // Head and body of a request from the bytes at hand: bytes consumed, 0 while
    // nothing could be taken, negative on failure. Call again with the bytes
    // behind those consumed until IsCompleted.
    virtual int32_t RecvRequest(const char* pText, int32_t nLen, CJXString* pBody);
    virtual int32_t BuildResponse(CJXString* pHead, CJXString* pBody);
    // Read a response head: status line ("RTSP/1.0 200 OK" or "HTTP/1.1 200",
    // reason optional, code 100..999) and header lines, each handed to
    // ParseHeadLine. Length of the head (leading empty lines included), 0 while
    // incomplete, negative when malformed or too long. Once a head was read, its
    // length again until Reset.
    virtual int32_t ParseResponse(const char* pText, int32_t nLen);
    // Move up to the announced content length of body bytes into pBody (null:
    // m_Body); the bytes taken. 0 before a head was read. A chunked body goes
    // through ParseChunked.
    virtual int32_t ParseContent(const char* pData, int32_t nLen, CJXString* pBody);
    // Decode "Transfer-Encoding: chunked" data into pBody (null: m_Body): whole
    // chunk-size lines, chunk data as it arrives, trailers skipped. The bytes
    // taken (a partial line is left for the next call), negative when malformed
    // or when the body would pass kMaxContent.
    virtual int32_t ParseChunked(const char* pData, int32_t nLen, CJXString* pBody);
    // Head and body of a response: bytes consumed, 0 while nothing could be
    // taken, negative. Call again with the bytes behind those consumed until
    // IsCompleted.
    virtual int32_t RecvResponse(const char* pText, int32_t nLen, CJXString* pBody);
    // Empty the message (status code 0, no values, no body). 0.
    virtual int32_t Reset();
    // One header line without its line end; true (1) when it was understood,
    // negative to refuse the message (bad Content-Length, unknown transfer coding).
    // Each ParseLine... reader returns 0 when the line is not of its kind.
    virtual int32_t ParseHeadLine(const char* pLine);
    virtual int32_t ParseLineConnection(const char* pLine);
    virtual int32_t ParseLineTransferEncoding(const char* pLine);
    virtual int32_t ParseLineContentLength(const char* pLine);
    virtual int32_t ParseLineSessionID(const char* pLine);
    virtual int32_t ParseLineCSeq(const char* pLine);
    virtual int32_t ParseSetCookie(const char* pLine);
    // Append the message's own header lines (each ending in CR LF) to out:
    // Session, Transport, Content-Type, WWW-Authenticate when set. 1, or negative.
    virtual int32_t BuildHeadLine(CJXString& out);
    // Append nLen bytes as one chunk ("<hex>\r\n<data>\r\n"); nLen 0 appends the
    // last chunk "0\r\n\r\n". The bytes appended, or negative.
    virtual int32_t BuildChunked(CJXString& out, const char* pData, uint64_t nLen);
    // Append nLen raw bytes; nLen, or negative.
    virtual int32_t BuildContent(CJXString& out, const char* pData, uint64_t nLen);
    // A header line no other reader took; the base returns 1.
    virtual int32_t ParseOther(const char* pLine);

    // Head read and the whole announced body in m_Body.
    bool IsCompleted() const;

    // If pLine starts with pKey (letter case ignored; blanks after the key's
    // colon are skipped, so "Key:value" and "Key:   value" both match the key
    // "Key: "), replace pField with a heap copy of the value (trailing blanks
    // and CR cut) and return true. Blanks before the colon are tolerated.
    static bool ParseLine(char*& pField, const char* pLine, const char* pKey);
    // Append "key<value>\r\n".
    static int32_t BuildLine(CJXString& out, const char* pKey, uint32_t nValue);
    // Whether the text may stand in a request, status or header line: not
    // null, no control character (a CR or LF would end the line early, a
    // NUL cut it), and no blank unless bBlanksAllowed (a method or URL).
    static bool IsLineSafe(const char* pText, bool bBlanksAllowed);

    // Fields read directly.
    int32_t m_StatusCode = 0;   // 0 until a status line was read
    uint16_t m_CSeq = 0;
    char* m_SessionID = nullptr;         // "Session: id;timeout=n" -> "id"
    uint16_t m_SessionTimeout = 0;       // seconds; 0 when not given
    char* m_WWWAuthenticate = nullptr;   // several lines are joined with ", "
    char* m_Transport = nullptr;
    char* m_ContentType = nullptr;
    int32_t m_ContentLength = 0;   // 0 when absent
    CJXString m_Body;
    // Requests (server side).
    char* m_Method = nullptr;
    char* m_Uri = nullptr;
    char* m_Reason = nullptr;   // reason phrase of a response; may be null
    bool m_Close = false;       // "Connection: close" was read
    bool m_Chunked = false;     // "Transfer-Encoding: chunked" was read
    // Bytes the search for the end of heads has looked at, over all messages
    // (never reset): a head that arrives byte by byte costs its length, once.
    uint64_t m_ScannedBytes = 0;

protected:
    int32_t m_HeadLength = 0;   // bytes of the head once read

private:
    int32_t ParseHead(const char* pText, int32_t nLen, bool bRequest);
    // Head (if not read yet) and as much body as is there; RecvRequest and RecvResponse.
    int32_t RecvMessage(const char* pText, int32_t nLen, CJXString* pBody, bool bRequest);
    int32_t FindHeadEnd(const char* pText, int32_t nLen, bool bRequest);
    int32_t ParseFirstLine(const char* pLine, int32_t nLen, bool bRequest);
    int32_t FinishHead(CJXString& out, const CJXString* pBody);
    int32_t TakeChunkLine(const char* pLine, int32_t nLen);
    void ClearFields();
    void RestartScan();

    bool m_HeadDone = false;     // head read (response or request)
    int32_t m_BodyTaken = 0;     // body bytes moved by ParseContent/ParseChunked
    bool m_LengthSeen = false;   // a Content-Length line was read
    // Search for the blank line, resumed between calls.
    int32_t m_ScanPos = 0;     // next byte to look at
    int32_t m_LineStart = 0;   // start of the line being scanned
    int32_t m_LineCount = 0;   // complete lines seen, the first line included
    // Chunked body decoding.
    int32_t m_ChunkState = 0;
    int32_t m_ChunkLeft = 0;   // data bytes left in the current chunk
    int32_t m_TrailerLines = 0;
};
