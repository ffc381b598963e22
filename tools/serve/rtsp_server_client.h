// What the server keeps of one connection and of each track it set up:
// shared by the connection loop (rtsp_server.cpp) and the request handlers
// (rtsp_server_methods.cpp).
#pragma once

#include "rtsp_server.h"
#include "rtsp_server_request.h"

#include <string>
#include <vector>

// The server listens, and names itself in URLs, on loopback only.
constexpr char kServerHost[] = "127.0.0.1";

struct CRtspServer::TrackState {
    const CServeTrack* pTrack = nullptr;
    bool bSetUp = false;
    bool bUdp = false;
    uint8_t nChannel = 0;
    uint32_t nClientPort = 0;
    sockaddr_storage to = {};
    int32_t nToLen = 0;
    uint32_t nSsrc = 0;
    uint16_t nSeq = 0;
    uint32_t nTsBase = 0;
    uint64_t nNextFrame = 0;
    bool bWaitKey = false;   // frames were dropped: resume at a key frame
};

struct CRtspServer::Client {
    JXSOCKET s = JX_INVALID_SOCKET;
    sockaddr_storage peer = {};
    int32_t nPeerLen = 0;
    std::vector<char> in;
    CRtspServerRequest request;   // the request at the start of in, read as its bytes arrive
    size_t nSkip = 0;   // bytes of an interleaved packet from the client still to skip
    std::vector<uint8_t> out;
    size_t nOutPos = 0;
    bool bClose = false;   // close once the output is sent
    bool bDraining = false;   // output sent and shut down; reading what is left until the peer closes
    uint64_t nDrainEndMs = 0;
    bool bDead = false;    // close now
    std::string sSession;
    std::string sPath;
    std::vector<const CServeTrack*> tracks;
    TrackState track[kMaxTracks];
    bool bPlaying = false;
    uint64_t nPlayMs = 0;
    uint64_t nSent = 0;
    uint64_t nDropped = 0;

    size_t QueueBytes() const { return out.size() - nOutPos; }
    void Append(const void* p, size_t n)
    {
        if (nOutPos > 0 && nOutPos * 2 >= out.size()) {
            out.erase(out.begin(), out.begin() + long(nOutPos));
            nOutPos = 0;
        }
        const uint8_t* pBytes = static_cast<const uint8_t*>(p);
        out.insert(out.end(), pBytes, pBytes + n);
    }
};
