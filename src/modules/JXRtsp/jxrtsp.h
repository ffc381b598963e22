// The module's four exported entry points, with C linkage. A host fills a table
// of four function pointers with JXRTSPGetAPI and asks JXRTSPGetInterface for
// stream objects.
#pragma once

#include "JXStream.h"

// Positions in the host's function table.
enum : int32_t {
    JXRTSP_API_INITIALIZE = 0,
    JXRTSP_API_INVALIDATE = 1,
    JXRTSP_API_RESERVED = 2,   // not written: the caller's value stays
    JXRTSP_API_GETINTERFACE = 3,
    JXRTSP_API_COUNT = 4,
};

// Messages to a stream's subscribers (IJXStream::Attach): the code each
// handler is called with, on the module's worker thread.
enum : uint32_t {
    JXRTSP_MSG_FRAME = 2106,     // a complete frame: the first parameter is its CPacket, valid during the call
    JXRTSP_MSG_STATE = 4101,     // a state report: the first parameter is a CJXMsg, its error tells it
    JXRTSP_MSG_STOPPED = 4102,   // the session stopped after a failure; a new attempt follows in 10 s
};

// Errors of a state report (JXRTSP_MSG_STATE) as subscribers see them.
enum : int32_t {
    JXRTSP_REPORT_PLAYING = 0,    // the server accepted PLAY
    JXRTSP_REPORT_NO_DATA = -2,   // no frame in time
    JXRTSP_REPORT_FAILURE = -28,  // any other failure
    JXRTSP_REPORT_AUTH = -29,     // the server refused the credentials
};

// The URL schemes a stream takes, letter case aside, and the transport each
// asks for; a URL without a scheme is taken as rtsp.
enum : int32_t {
    JXRTSP_SCHEME_NONE = -1,       // another scheme
    JXRTSP_SCHEME_RTSP = 0,        // RTP interleaved on the RTSP connection
    JXRTSP_SCHEME_UDP = 1,         // rtspu: unicast UDP
    JXRTSP_SCHEME_MULTICAST = 2,   // rtspm: UDP multicast
};
inline constexpr const char* JXRTSP_SCHEMES[] = {"rtsp", "rtspu", "rtspm"};   // by JXRTSP_SCHEME_*

// The JXRTSP_SCHEME_* of the nLen bytes of pScheme.
inline int32_t JXRTSPSchemeOf(const char* pScheme, size_t nLen)
{
    for (int32_t i = 0; i < int32_t(sizeof(JXRTSP_SCHEMES) / sizeof(JXRTSP_SCHEMES[0])); ++i) {
        if (CJXString::EqualNoCase(pScheme, int32_t(nLen), JXRTSP_SCHEMES[i])) return i;
    }
    return JXRTSP_SCHEME_NONE;
}

typedef int (*JXRTSPInitializeFunc)();
typedef int (*JXRTSPInvalidateFunc)();
typedef IJXStream* (*JXRTSPGetInterfaceFunc)(const char* pName, const char* pUrl);
typedef int (*JXRTSPGetAPIFunc)(void** pTable);

extern "C" {
JXRTSP_API int JXRTSPGetAPI(void** pTable);
JXRTSP_API int JXRTSPInitialize();
JXRTSP_API int JXRTSPInvalidate();
// A new stream for the interface name "IJXStream" and an rtsp, rtspu or rtspm
// URL (or one without a scheme); null otherwise. The caller ends it with Release().
JXRTSP_API IJXStream* JXRTSPGetInterface(const char* pName, const char* pUrl);
}
