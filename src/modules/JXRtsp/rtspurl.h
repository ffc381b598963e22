// The stream URL as the requests use it (CRTSPUrl).
#pragma once

#include "JXRtspDefs.h"

// Helpers over the texts of URLs and addresses; no state.
class JXRTSP_API CRTSPUrl {
public:
    // The URL text without "user:password@" (a heap copy for free, or null).
    static char* CloneWithoutUserInfo(const char* pText);
    // The transport a scheme asks for: rtspu unicast UDP, rtspm multicast,
    // anything else RTP interleaved on the connection.
    static int32_t TransportOfScheme(const char* pScheme);
};
