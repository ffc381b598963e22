// One transport of a Transport header (RFC 2326 section 12.39): what a SETUP
// answer tells the client, or what one entry of a SETUP request's list offers
// a server. Depends on the base library only, so a test server can read
// requests with it without linking the module.
#pragma once

#include "JXRtspDefs.h"

class JXRTSP_API CRTSPTransport {
public:
    // Lower transports.
    static constexpr int32_t kModeNone = 0;
    static constexpr int32_t kModeUDP = 1;
    static constexpr int32_t kModeInterleaved = 2;
    static constexpr int32_t kModeMulticast = 4;
    // Room for a destination value; a longer one is cut to it, and is then
    // refused because it cannot read as an IPv4 address.
    static constexpr size_t kMaxDestinationChars = 63;

    // Reads a Transport value token by token (';' apart, blanks around cut),
    // every number bounded, into the fields below; the last transport named
    // wins. A list of several transports (',' apart) is split by the caller.
    void Read(const char* pValue);

    uint32_t m_Mode = kModeNone;
    uint32_t m_First = 0;    // RTP port (server_port= or port=) or channel (interleaved=)
    uint32_t m_Second = 1;   // RTCP port or channel
    bool m_HasChannels = false;   // interleaved= was read: a request may leave the channels to the server
    uint32_t m_ClientFirst = 0;   // client_port=, RTP; 0 when absent or unusable
    uint32_t m_ClientSecond = 0;
    uint32_t m_SSRC = 0;
    bool m_Usable = true;   // no port, channel or group that cannot be used
    char m_Destination[kMaxDestinationChars + 1] = {};
    // The sender source= names, a dotted IPv4 address (first octet in the
    // lowest byte); 0 for none, and for a name (never looked up).
    uint32_t m_SourceIP = 0;

private:
    void ReadToken(const char* pToken, size_t nToken);
};
