// One RTSP request as the server reads it from a connection: the base
// library's request reader, with what the server needs beyond it and tighter
// bounds (the request line and headers at most kMaxHeadBytes, a body at most
// kMaxBodyBytes).
#pragma once

#include "JXBase.h"

#include <cstddef>
#include <string>

// What CRtspServerRequest::Read found at the start of the buffer, beside
// JX_OK and JX_ERR_CONTENT.
enum : int32_t {
    JX_RTSP_NEED_MORE = 1,   // no whole request yet (and none too long so far)
};

class CRtspServerRequest : public CJXHTTPCommand {
public:
    static constexpr size_t kMaxHeadBytes = 8192;
    static constexpr int32_t kMaxBodyBytes = 16384;
    static constexpr int32_t kMaxHeaders = 64;

    CRtspServerRequest() = default;
    ~CRtspServerRequest() override;

    // One request from the n bytes at p, which begin where the request does;
    // the bytes are taken only once the whole request is there. JX_OK: the
    // request is read (m_Body holds its body) and nConsumed bytes were used.
    // JX_RTSP_NEED_MORE: call again with the same start and more bytes.
    // JX_ERR_CONTENT: malformed or over a bound; the connection cannot be read
    // further. Reset before the next request.
    int32_t Read(const char* p, size_t n, size_t& nConsumed);

    int32_t Reset() override;
    // Authorization is kept here; CSeq and Session go to the base as well. A
    // line that is no "name: value", carries control bytes or passes
    // kMaxHeaders refuses the request: its end cannot be trusted.
    int32_t ParseHeadLine(const char* pLine) override;
    int32_t ParseLineCSeq(const char* pLine) override;
    int32_t ParseLineSessionID(const char* pLine) override;

    // The path the request's URI names ("rtsp://host:port/a/b?q" -> "/a/b";
    // "*" -> "*"), without query and trailing slashes; "/" when it has none.
    // Empty when the URI is no RTSP URL.
    std::string Path() const;

    // The client's CSeq whole, for the answer: the base keeps 16 bits, which
    // number our own requests, not another's. -1: none or not a number.
    int64_t m_RequestCSeq = -1;
    char* m_Authorization = nullptr;   // heap text, or null
    bool m_HasSession = false;         // a Session line was read (its id may be empty)

private:
    void ClearServerFields();
    // The checks the base's reader leaves to its user: version RTSP/1.0, no
    // control bytes. The head's first line is read again for them.
    bool IsRtspRequestLine(const char* p, int32_t n) const;
    // A refused head still names its CSeq for the 400 when it has one.
    void FindCSeq(const char* p, int32_t n);

    int32_t m_HeaderLines = 0;
};
