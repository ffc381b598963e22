// One RTSP request as the server reads it from a connection, bounded: the
// request line and headers at most kMaxHeadBytes, a body at most
// kMaxBodyBytes, at most kMaxHeaders header lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct JXRtspRequest {
    static constexpr size_t kMaxHeadBytes = 8192;
    static constexpr size_t kMaxBodyBytes = 16384;
    static constexpr size_t kMaxHeaders = 64;

    std::string sMethod;
    std::string sUri;
    std::vector<std::pair<std::string, std::string>> headers;   // name, value (trimmed)
    std::string sBody;
    int64_t nCSeq = -1;   // -1: none or not a number

    // The value of the first header of that name (any letter case), or null.
    const std::string* Header(const char* pName) const;
};

// What JXRtspParseRequest found at the start of the buffer.
enum : int32_t {
    JX_RTSP_NEED_MORE = 1,   // no whole request yet (and none too long so far)
};

// Parse one request from p (n bytes). JX_OK: req filled, nConsumed bytes
// used. JX_RTSP_NEED_MORE. JX_ERR_CONTENT: malformed or over a bound; req
// holds what could be read (its CSeq, for the 400 answer), and the connection
// cannot be read further.
int32_t JXRtspParseRequest(const char* p, size_t n, JXRtspRequest& req, size_t& nConsumed);

// The path of an RTSP URL ("rtsp://host:port/a/b?q" -> "/a/b"; "*" -> "*"),
// without query and trailing slashes; "/" when it has none. Empty when the
// text is no RTSP URL.
std::string JXRtspUrlPath(const std::string& sUri);
