// The requests of a session, one handler per method: DESCRIBE, SETUP, PLAY,
// TEARDOWN and the keep-alives, each answered at once into the connection's
// output queue.
#include "rtsp_server.h"
#include "rtsp_server_client.h"

#include "JXBase.h"
#include "rtsptransport.h"

#include <cstdio>
#include <cstring>

namespace {
const int kSessionTimeoutS = 60;

const char* StatusText(int nStatus)
{
    switch (nStatus) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 454: return "Session Not Found";
    case 455: return "Method Not Valid in This State";
    case 459: return "Aggregate Operation Not Allowed";
    case 461: return "Unsupported Transport";
    case 501: return "Not Implemented";
    default: return "Error";
    }
}

std::string Hex32(uint32_t n)
{
    char text[9];
    snprintf(text, sizeof(text), "%08X", n);
    return text;
}
}   // namespace

std::string CRtspServer::BaseUrl(const std::string& sPath) const
{
    std::string s = std::string("rtsp://") + kServerHost + ":" + std::to_string(m_Port) + sPath;
    if (s.back() != '/') s += '/';
    return s;
}

std::string CRtspServer::SessionHeader(const Client& c) const
{
    return "Session: " + c.sSession + ";timeout=" + std::to_string(kSessionTimeoutS) + "\r\n";
}

void CRtspServer::Reply(Client& c, int nStatus, int64_t nCSeq, const std::string& sHeaders, const std::string& sBody)
{
    std::string s = "RTSP/1.0 " + std::to_string(nStatus) + " " + StatusText(nStatus) + "\r\n";
    s += "CSeq: " + std::to_string(nCSeq < 0 ? 0 : nCSeq) + "\r\n";
    s += "Server: jxrtsp serve\r\n";
    s += sHeaders;
    if (!sBody.empty()) s += "Content-Length: " + std::to_string(sBody.size()) + "\r\n";
    s += "\r\n";
    s += sBody;
    c.Append(s.data(), s.size());
}

void CRtspServer::OnDescribe(Client& c, const CRtspServerRequest& req)
{
    const std::string sPath = req.Path();
    if (sPath.empty() || sPath == "*") {
        Reply(c, 400, req.m_RequestCSeq, "");
        return;
    }
    const std::vector<const CServeTrack*> tracks = TracksForPath(sPath);
    std::string sdp = "v=0\r\no=- " + std::to_string(m_Random()) + " 1 IN IP4 " + kServerHost + "\r\n";
    sdp += "s=jxrtsp serve " + sPath + "\r\nc=IN IP4 " + kServerHost + "\r\nt=0 0\r\na=control:*\r\n";
    for (size_t i = 0; i < tracks.size(); ++i) {
        sdp += tracks[i]->SdpMedia() + "a=control:trackID=" + std::to_string(i) + "\r\n";
    }
    Reply(c, 200, req.m_RequestCSeq, "Content-Type: application/sdp\r\nContent-Base: " + BaseUrl(sPath) + "\r\n", sdp);
}

void CRtspServer::OnSetup(Client& c, const CRtspServerRequest& req)
{
    if (c.bPlaying) {
        Reply(c, 455, req.m_RequestCSeq, SessionHeader(c));
        return;
    }
    std::string sPath = req.Path();
    int nTrack = -1;
    const size_t nSlash = sPath.rfind('/');
    const char kTrackPrefix[] = "trackID=";
    if (nSlash != std::string::npos && sPath.compare(nSlash + 1, strlen(kTrackPrefix), kTrackPrefix) == 0) {
        const std::string sNumber = sPath.substr(nSlash + 1 + strlen(kTrackPrefix));
        if (sNumber.size() == 1 && sNumber[0] >= '0' && sNumber[0] < '0' + kMaxTracks) nTrack = sNumber[0] - '0';
        if (nTrack < 0) {
            Reply(c, 404, req.m_RequestCSeq, "");
            return;
        }
        sPath = nSlash == 0 ? std::string("/") : sPath.substr(0, nSlash);
    }
    if (sPath.empty() || sPath == "*") {
        Reply(c, 400, req.m_RequestCSeq, "");
        return;
    }
    const std::vector<const CServeTrack*> tracks = TracksForPath(sPath);
    if (nTrack < 0) {
        if (tracks.size() != 1) {
            Reply(c, 459, req.m_RequestCSeq, "");
            return;
        }
        nTrack = 0;
    }
    if (size_t(nTrack) >= tracks.size()) {
        Reply(c, 404, req.m_RequestCSeq, "");
        return;
    }
    if (!c.sSession.empty() && sPath != c.sPath) {
        Reply(c, 459, req.m_RequestCSeq, SessionHeader(c));
        return;
    }

    // The first transport of the client's list that is served here: RTP over
    // TCP (the channels asked for, else two of our own) or unicast UDP to the
    // client's ports.
    const char* pList = req.m_Transport != nullptr ? req.m_Transport : "";
    bool bFound = false;
    bool bUdp = false;
    uint32_t nFirst = 0;
    uint32_t nSecond = 0;
    while (!bFound && *pList != '\0') {
        const size_t nSpec = strcspn(pList, ",");
        CRTSPTransport offer;
        offer.Read(std::string(pList, nSpec).c_str());
        pList += pList[nSpec] == ',' ? nSpec + 1 : nSpec;
        bUdp = offer.m_Mode == CRTSPTransport::kModeUDP;
        if (offer.m_Mode == CRTSPTransport::kModeInterleaved && offer.m_Usable) {
            nFirst = offer.m_HasChannels ? offer.m_First : uint32_t(2 * nTrack);
            nSecond = offer.m_HasChannels ? offer.m_Second : nFirst + 1;
            bFound = true;
        } else if (bUdp && offer.m_ClientFirst != 0) {
            nFirst = offer.m_ClientFirst;
            nSecond = offer.m_ClientSecond;
            bFound = true;
        }
    }
    if (!bFound) {
        Reply(c, 461, req.m_RequestCSeq, c.sSession.empty() ? std::string() : SessionHeader(c));
        return;
    }
    if (c.sSession.empty()) {
        c.sSession = Hex32(m_Random()) + Hex32(m_Random());
        c.sPath = sPath;
        c.tracks = tracks;
        c.nSent = 0;
        c.nDropped = 0;
    }
    TrackState& t = c.track[nTrack];
    t = TrackState();
    t.pTrack = tracks[size_t(nTrack)];
    t.bSetUp = true;
    t.bUdp = bUdp;
    t.nSsrc = uint32_t(m_Random());
    t.nSeq = uint16_t(m_Random());
    t.nTsBase = uint32_t(m_Random());
    std::string sReply;
    if (bUdp) {
        // RTP goes to the connection's own peer only: it is on this host.
        t.nClientPort = nFirst;
        memcpy(&t.to, &c.peer, sizeof(t.to));
        t.nToLen = c.nPeerLen;
        if (t.to.ss_family == AF_INET) {
            reinterpret_cast<sockaddr_in*>(&t.to)->sin_port = htons(uint16_t(nFirst));
        } else {
            reinterpret_cast<sockaddr_in6*>(&t.to)->sin6_port = htons(uint16_t(nFirst));
        }
        sReply = "RTP/AVP;unicast;client_port=" + std::to_string(nFirst) + "-" + std::to_string(nSecond) +
                 ";server_port=" + std::to_string(m_UdpPort) + "-" + std::to_string(m_UdpPort + 1);
    } else {
        t.nChannel = uint8_t(nFirst);
        sReply = "RTP/AVP/TCP;unicast;interleaved=" + std::to_string(nFirst) + "-" + std::to_string(nSecond);
    }
    sReply += ";ssrc=" + Hex32(t.nSsrc);
    Reply(c, 200, req.m_RequestCSeq, "Transport: " + sReply + "\r\n" + SessionHeader(c));
}

void CRtspServer::OnPlay(Client& c, const CRtspServerRequest& req)
{
    std::string sInfo;
    for (size_t i = 0; i < c.tracks.size(); ++i) {
        const TrackState& t = c.track[i];
        if (!t.bSetUp) continue;
        if (!sInfo.empty()) sInfo += ",";
        const uint16_t nSeq = t.nSeq;
        const uint32_t nTime = t.nTsBase + t.pTrack->Ticks(t.nNextFrame);
        sInfo += "url=" + BaseUrl(c.sPath) + "trackID=" + std::to_string(i) + ";seq=" + std::to_string(nSeq) +
                 ";rtptime=" + std::to_string(nTime);
    }
    if (sInfo.empty()) {
        Reply(c, 455, req.m_RequestCSeq, SessionHeader(c));
        return;
    }
    if (!c.bPlaying) {
        c.bPlaying = true;
        c.nPlayMs = CJXTime::GetTimeMS();
    }
    Reply(c, 200, req.m_RequestCSeq, SessionHeader(c) + "Range: npt=0.000-\r\nRTP-Info: " + sInfo + "\r\n");
}

void CRtspServer::EndSession(Client& c)
{
    if (c.sSession.empty()) return;
    if (!m_Config.bQuiet) {
        fprintf(stderr, "session ended: %s frames sent %llu, frames dropped %llu\n", c.sPath.c_str(),
                (unsigned long long)c.nSent, (unsigned long long)c.nDropped);
        fflush(stderr);
    }
    c.sSession.clear();
    c.sPath.clear();
    c.tracks.clear();
    for (TrackState& t : c.track) t = TrackState();
    c.bPlaying = false;
}

void CRtspServer::HandleRequest(Client& c, const CRtspServerRequest& req)
{
    const std::string m = req.m_Method;
    if (m == "OPTIONS") {
        Reply(c, 200, req.m_RequestCSeq,
              "Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN, GET_PARAMETER, SET_PARAMETER\r\n");
        return;
    }
    const bool bKnown = m == "DESCRIBE" || m == "SETUP" || m == "PLAY" || m == "PAUSE" || m == "TEARDOWN" ||
                        m == "GET_PARAMETER" || m == "SET_PARAMETER";
    if (!bKnown) {
        Reply(c, 501, req.m_RequestCSeq, "");
        return;
    }
    if (!m_Auth.Check(m, req.m_Authorization)) {
        Reply(c, 401, req.m_RequestCSeq, "WWW-Authenticate: " + m_Auth.Challenge() + "\r\n");
        return;
    }
    if (req.m_HasSession) {
        const std::string sId = req.m_SessionID != nullptr ? req.m_SessionID : "";
        if (c.sSession.empty() || sId != c.sSession) {
            Reply(c, 454, req.m_RequestCSeq, "");
            return;
        }
    }
    const bool bNeedsSession = m == "PLAY" || m == "PAUSE" || m == "TEARDOWN";
    if (bNeedsSession && (!req.m_HasSession || c.sSession.empty())) {
        Reply(c, 454, req.m_RequestCSeq, "");
        return;
    }
    if (m == "DESCRIBE") {
        OnDescribe(c, req);
    } else if (m == "SETUP") {
        OnSetup(c, req);
    } else if (m == "PLAY") {
        OnPlay(c, req);
    } else if (m == "PAUSE") {
        Reply(c, 501, req.m_RequestCSeq, SessionHeader(c));
    } else if (m == "TEARDOWN") {
        EndSession(c);
        Reply(c, 200, req.m_RequestCSeq, "");
    } else {
        // GET_PARAMETER and SET_PARAMETER: keep-alive; no parameters are kept.
        Reply(c, 200, req.m_RequestCSeq, c.sSession.empty() ? std::string() : SessionHeader(c));
    }
}
