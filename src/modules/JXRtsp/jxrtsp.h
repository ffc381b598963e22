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
