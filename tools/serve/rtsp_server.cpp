// Sessions are driven by the monotonic clock: frame i of a track goes out when
// PLAY time + i frame durations has come, whatever the loop was doing, so the
// stream keeps real time and its RTP timestamps and sequence numbers run on
// across the clip's loops.
#include "rtsp_server.h"
#include "rtsp_server_client.h"

#include "JXBase.h"
#include "clip_file.h"
#include "rtpdata.h"
#include "rtsp_server_request.h"
#include "rtsptransport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The readiness wait: the one place that differs between the platforms.
// CJXFdSet holds only 64 sockets; the server has hundreds of connections.
#ifdef _WIN32
namespace {
using JXPollFd = WSAPOLLFD;
int PollSockets(JXPollFd* pFds, size_t n, int nTimeoutMs)
{
    return WSAPoll(pFds, ULONG(n), nTimeoutMs);
}
void ShutdownSend(JXSOCKET s)
{
    shutdown(SOCKET(s), SD_SEND);
}
}   // namespace
#else
#include <poll.h>
namespace {
using JXPollFd = pollfd;
int PollSockets(JXPollFd* pFds, size_t n, int nTimeoutMs)
{
    return poll(pFds, nfds_t(n), nTimeoutMs);
}
void ShutdownSend(JXSOCKET s)
{
    shutdown(int(s), SHUT_WR);
}
}   // namespace
#endif

namespace {
const char kRealm[] = "jxrtsp";
const int kMaxWaitMs = 50;   // the stop flag is looked at this often
const uint64_t kDrainMs = 2000;   // after a 400: how long the peer's rest is read and dropped
const size_t kRecvChunk = 16384;
const size_t kMaxInBytes = CRtspServerRequest::kMaxHeadBytes + CRtspServerRequest::kMaxBodyBytes;
const size_t kMaxSendChunk = 256 * 1024;
const uint8_t kInterleavedMagic = '$';
const size_t kInterleavedHead = 4;
const int kUdpPairTries = 32;
const int32_t kUdpSendBuffer = 4 << 20;
const size_t kMaxDatagram = 65536;
// Offsets in a framed packet: channel, then the RTP fields patched per session.
const size_t kChannelAt = 1;
const size_t kSeqAt = CRTPData::kFrameBytes + 2;
const size_t kTimestampAt = CRTPData::kFrameBytes + 4;
const size_t kSsrcAt = CRTPData::kFrameBytes + 8;
const size_t kFixedPoll = 3;   // listener, UDP RTP, UDP RTCP

void PutBE16(uint8_t* p, uint32_t n)
{
    p[0] = uint8_t(n >> 8);
    p[1] = uint8_t(n);
}

void PutBE32(uint8_t* p, uint32_t n)
{
    p[0] = uint8_t(n >> 24);
    p[1] = uint8_t(n >> 16);
    p[2] = uint8_t(n >> 8);
    p[3] = uint8_t(n);
}

bool EndsWith(const std::string& s, const char* pSuffix)
{
    const size_t n = strlen(pSuffix);
    return s.size() >= n && s.compare(s.size() - n, n, pSuffix) == 0;
}
}   // namespace


CRtspServer::CRtspServer() : m_Random(std::random_device{}()), m_Scratch(kMaxDatagram) {}

CRtspServer::~CRtspServer()
{
    for (auto& c : m_Clients) JXSocketClose(c->s);
    m_Clients.clear();
    if (m_Listen != JX_INVALID_SOCKET) JXSocketClose(m_Listen);
    if (m_UdpRtp != JX_INVALID_SOCKET) JXSocketClose(m_UdpRtp);
    if (m_UdpRtcp != JX_INVALID_SOCKET) JXSocketClose(m_UdpRtcp);
    if (m_NetStarted) JXNetCleanup();
}

std::vector<const CServeTrack*> CRtspServer::TracksForPath(const std::string& sPath) const
{
    if (sPath == "/h264") return {&m_H264};
    if (sPath == "/h265") return {&m_H265};
    if (sPath == "/jpeg" || sPath == "/mjpeg") return {&m_Jpeg};
    if (sPath == "/pcma") return {&m_Pcma};
    if (sPath == "/pcmu") return {&m_Pcmu};
    if (sPath == "/h264+pcmu" || sPath == "/h264%2Bpcmu" || sPath == "/h264%2bpcmu") return {&m_H264, &m_Pcmu};
    if (sPath == "/aac") return {&m_Aac};
    if (sPath == "/h264+aac" || sPath == "/h264%2Baac" || sPath == "/h264%2baac") return {&m_H264, &m_Aac};
    const std::string sDefault = "/" + m_Config.sMedia;
    if (sPath == sDefault) return {};   // a default that names no media: refused in Start
    return TracksForPath(sDefault);
}

int32_t CRtspServer::LoadClips(std::string& sWhy)
{
    const std::string sDir = JXFindClipDir();
    if (sDir.empty()) {
        sWhy = "the sample clips are missing: looked in clips/ beside this program and in the installed share/jxrtsp/clips";
#ifdef JX_CLIP_SOURCE_DIR
        sWhy += std::string(" and in ") + JX_CLIP_SOURCE_DIR;
#endif
        return JX_ERR_FAIL;
    }
    const bool bClipH265 = EndsWith(m_Config.sClip, ".h265") || EndsWith(m_Config.sClip, ".hevc");
    const std::string sH264 = !m_Config.sClip.empty() && !bClipH265 ? m_Config.sClip : sDir + "/sample.h264";
    const std::string sH265 = bClipH265 ? m_Config.sClip : sDir + "/sample.h265";
    int32_t nRet = m_H264.LoadVideo(sH264, false, m_Config.nFps, sWhy);
    if (nRet == JX_OK) nRet = m_H265.LoadVideo(sH265, true, m_Config.nFps, sWhy);
    if (nRet == JX_OK) nRet = m_Jpeg.LoadJpeg(sDir + "/sample.mjpeg", m_Config.nFps, sWhy);
    if (nRet == JX_OK) nRet = m_Pcma.LoadAudio(sDir + "/sample_pcma.wav", sWhy);
    if (nRet == JX_OK) nRet = m_Pcmu.LoadAudio(sDir + "/sample_pcmu.wav", sWhy);
    if (nRet == JX_OK) nRet = m_Aac.LoadAac(sDir + "/sample.aac", sWhy);
    if (nRet != JX_OK) return nRet;
    if (m_Pcma.m_Kind != JXServeKind::kPcma || m_Pcmu.m_Kind != JXServeKind::kPcmu) {
        sWhy = "sample_pcma.wav or sample_pcmu.wav holds the other G.711 law";
        return JX_ERR_CONTENT;
    }
    return JX_OK;
}

int32_t CRtspServer::OpenUdp(std::string& sWhy)
{
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, kServerHost, &addr.sin_addr);
    for (int i = 0; i < kUdpPairTries; ++i) {
        JXSOCKET rtp = JXSocketCreate(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (rtp == JX_INVALID_SOCKET) break;
        addr.sin_port = 0;
        sockaddr_in bound = {};
        int32_t nLen = sizeof(bound);
        if (JXSocketBind(rtp, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != JX_OK ||
            JXSocketGetName(rtp, reinterpret_cast<sockaddr*>(&bound), &nLen) != JX_OK) {
            JXSocketClose(rtp);
            break;
        }
        const uint16_t nPort = ntohs(bound.sin_port);
        // RTP on an even port and RTCP on the next, as clients expect.
        JXSOCKET rtcp = nPort % 2 == 0 ? JXSocketCreate(AF_INET, SOCK_DGRAM, IPPROTO_UDP) : JX_INVALID_SOCKET;
        addr.sin_port = htons(uint16_t(nPort + 1));
        if (rtcp != JX_INVALID_SOCKET && JXSocketBind(rtcp, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == JX_OK) {
            JXSocketSetBlocking(rtp, 0);
            JXSocketSetBlocking(rtcp, 0);
            JXSocketSetOptInt(rtp, SOL_SOCKET, SO_SNDBUF, kUdpSendBuffer);
            m_UdpRtp = rtp;
            m_UdpRtcp = rtcp;
            m_UdpPort = nPort;
            return JX_OK;
        }
        if (rtcp != JX_INVALID_SOCKET) JXSocketClose(rtcp);
        JXSocketClose(rtp);
    }
    sWhy = "cannot bind a UDP port pair on 127.0.0.1";
    return JX_ERR_FAIL;
}

int32_t CRtspServer::Start(const JXServeConfig& config, std::string& sWhy)
{
    m_Config = config;
    if (m_Config.nFps < CServeTrack::kMinFps || m_Config.nFps > CServeTrack::kMaxFps) {
        sWhy = "--fps must be from 1 to " + std::to_string(CServeTrack::kMaxFps);
        return JX_ERR_ARG;
    }
    if (TracksForPath("/" + m_Config.sMedia).empty()) {
        sWhy = "unknown media '" + m_Config.sMedia + "' (h264, h265, jpeg, pcma, pcmu, aac, h264+pcmu, h264+aac)";
        return JX_ERR_ARG;
    }
    int32_t nRet = LoadClips(sWhy);
    if (nRet != JX_OK) return nRet;
    char nonce[40];
    snprintf(nonce, sizeof(nonce), "%08x%08x%08x%08x", unsigned(m_Random()), unsigned(m_Random()),
             unsigned(m_Random()), unsigned(m_Random()));
    m_Auth.Setup(m_Config.auth, m_Config.sUser, m_Config.sPassword, kRealm, nonce);
    if (JXNetStartup() != JX_OK) {
        sWhy = "the socket library did not start";
        return JX_ERR_FAIL;
    }
    m_NetStarted = true;
    m_Listen = JXSocketListenTCP(kServerHost, m_Config.nPort, -1, &m_Port);
    if (m_Listen == JX_INVALID_SOCKET) {
        sWhy = "cannot listen on 127.0.0.1:" + std::to_string(m_Config.nPort);
        return JX_ERR_FAIL;
    }
    return OpenUdp(sWhy);
}

void CRtspServer::ReadClient(Client& c)
{
    char buf[kRecvChunk];
    while (c.bClose) {
        const int32_t n = JXSocketRecv(c.s, buf, int32_t(sizeof(buf)));
        if (n == 0 || (n < 0 && JXSocketLastError() != JX_NET_ERR_WOULDBLOCK)) c.bDead = true;
        if (n <= 0) return;
    }
    for (;;) {
        const size_t nRoom = kMaxInBytes - c.in.size();
        if (nRoom == 0) break;
        const int32_t n = JXSocketRecv(c.s, buf, int32_t(std::min(nRoom, sizeof(buf))));
        if (n == 0) {
            c.bDead = true;
            return;
        }
        if (n < 0) {
            if (JXSocketLastError() != JX_NET_ERR_WOULDBLOCK) c.bDead = true;
            break;
        }
        c.in.insert(c.in.end(), buf, buf + n);
        if (size_t(n) < sizeof(buf)) break;
    }
    size_t nPos = 0;
    while (!c.bClose && nPos < c.in.size()) {
        const size_t nLeft = c.in.size() - nPos;
        if (c.nSkip > 0) {
            const size_t nTake = std::min(c.nSkip, nLeft);
            c.nSkip -= nTake;
            nPos += nTake;
            continue;
        }
        const char* p = c.in.data() + nPos;
        if (uint8_t(p[0]) == kInterleavedMagic) {
            // RTCP from an interleaved client: read past it.
            if (nLeft < kInterleavedHead) break;
            c.nSkip = kInterleavedHead + (size_t(uint8_t(p[2])) << 8 | uint8_t(p[3]));
            continue;
        }
        size_t nUsed = 0;
        const int32_t nRet = c.request.Read(p, nLeft, nUsed);
        if (nRet == JX_RTSP_NEED_MORE) break;
        if (nRet != JX_OK) {
            // The request's end cannot be trusted: answer and close.
            Reply(c, 400, c.request.m_RequestCSeq, "");
            c.bClose = true;
            break;
        }
        nPos += nUsed;
        HandleRequest(c, c.request);
        c.request.Reset();
    }
    c.in.erase(c.in.begin(), c.in.begin() + long(nPos));
}

void CRtspServer::SendFrame(Client& c, TrackState& t)
{
    const CServeTrack& track = *t.pTrack;
    const JXServeFrame& f = track.m_Frames[size_t(t.nNextFrame % track.m_Frames.size())];
    const uint32_t nTime = t.nTsBase + track.Ticks(t.nNextFrame);
    const bool bFull = !t.bUdp && c.QueueBytes() > kMaxQueueBytes;
    if (bFull || (t.bWaitKey && !f.bKey)) {
        // The sequence numbers skip the dropped packets: the receiver sees the loss.
        ++c.nDropped;
        t.nSeq = uint16_t(t.nSeq + f.nPackets);
        t.bWaitKey = true;
        return;
    }
    t.bWaitKey = false;
    for (uint32_t i = 0; i < f.nPackets; ++i) {
        const JXServePacket& packet = track.m_Packets[f.nFirstPacket + i];
        const uint8_t* pSrc = track.PacketBytes(packet);
        uint8_t* pDst = nullptr;
        if (t.bUdp) {
            pDst = m_Scratch.data();
            memcpy(pDst, pSrc, packet.nLength);
        } else {
            c.Append(pSrc, packet.nLength);
            pDst = c.out.data() + c.out.size() - packet.nLength;
            pDst[kChannelAt] = t.nChannel;
        }
        PutBE16(pDst + kSeqAt, t.nSeq);
        PutBE32(pDst + kTimestampAt, nTime);
        PutBE32(pDst + kSsrcAt, t.nSsrc);
        ++t.nSeq;
        if (!t.bUdp) continue;
        const int32_t nBytes = int32_t(packet.nLength - CRTPData::kFrameBytes);
        if (JXSocketSendTo(m_UdpRtp, pDst + CRTPData::kFrameBytes, nBytes, reinterpret_cast<sockaddr*>(&t.to),
                           t.nToLen) != nBytes) {
            ++c.nDropped;
            t.nSeq = uint16_t(t.nSeq + f.nPackets - i - 1);
            t.bWaitKey = true;
            return;
        }
    }
    ++c.nSent;
}

void CRtspServer::PumpFrames(Client& c, uint64_t nNowMs)
{
    for (size_t i = 0; i < c.tracks.size(); ++i) {
        TrackState& t = c.track[i];
        if (!t.bSetUp) continue;
        while (c.nPlayMs + t.pTrack->DueMs(t.nNextFrame) <= nNowMs) {
            SendFrame(c, t);
            ++t.nNextFrame;
        }
    }
}

void CRtspServer::FlushClient(Client& c)
{
    while (c.QueueBytes() > 0) {
        const size_t nChunk = std::min(c.QueueBytes(), kMaxSendChunk);
        const int32_t n = JXSocketSend(c.s, c.out.data() + c.nOutPos, int32_t(nChunk));
        if (n < 0) {
            if (JXSocketLastError() != JX_NET_ERR_WOULDBLOCK) c.bDead = true;
            break;
        }
        if (n == 0) break;
        c.nOutPos += size_t(n);
    }
    if (c.QueueBytes() == 0) {
        c.out.clear();
        c.nOutPos = 0;
        if (c.bClose && !c.bDraining) {
            // Closing with unread input would reset the connection and could
            // lose the answer: end the output, then read until the peer closes.
            ShutdownSend(c.s);
            c.bDraining = true;
            c.nDrainEndMs = CJXTime::GetTimeMS() + kDrainMs;
        }
    }
}

int CRtspServer::NextWakeMs(uint64_t nNowMs) const
{
    uint64_t nWake = nNowMs + kMaxWaitMs;
    for (const auto& pc : m_Clients) {
        const Client& c = *pc;
        if (!c.bPlaying) continue;
        for (size_t i = 0; i < c.tracks.size(); ++i) {
            const TrackState& t = c.track[i];
            if (t.bSetUp) nWake = std::min(nWake, c.nPlayMs + t.pTrack->DueMs(t.nNextFrame));
        }
    }
    return nWake <= nNowMs ? 0 : int(nWake - nNowMs);
}

void CRtspServer::AcceptClients()
{
    for (;;) {
        const JXSOCKET s = JXSocketAccept(m_Listen);
        if (s == JX_INVALID_SOCKET) return;
        std::unique_ptr<Client> c(new Client);
        c->s = s;
        c->nPeerLen = sizeof(c->peer);
        if (m_Clients.size() >= kMaxClients ||
            JXSocketGetPeer(s, reinterpret_cast<sockaddr*>(&c->peer), &c->nPeerLen) != JX_OK) {
            JXSocketClose(s);
            continue;
        }
        m_Clients.push_back(std::move(c));
    }
}

void CRtspServer::DrainUdp(JXSOCKET s)
{
    // Receiver reports and the clients' first packets: read and let go.
    for (int i = 0; i < 64; ++i) {
        if (JXSocketRecvFrom(s, m_Scratch.data(), int32_t(m_Scratch.size()), nullptr, nullptr) < 0) return;
    }
}

void CRtspServer::Run(const volatile std::sig_atomic_t* pSignal)
{
    std::vector<JXPollFd> fds;
    while (!m_Stop && (pSignal == nullptr || *pSignal == 0)) {
        const uint64_t nNow = CJXTime::GetTimeMS();
        for (auto& pc : m_Clients) {
            if (pc->bPlaying && !pc->bDead) PumpFrames(*pc, nNow);
            if (pc->QueueBytes() > 0 && !pc->bDead) FlushClient(*pc);
            if (pc->bDraining && nNow >= pc->nDrainEndMs) pc->bDead = true;
        }
        for (auto& pc : m_Clients) {
            if (!pc->bDead) continue;
            EndSession(*pc);
            JXSocketClose(pc->s);
        }
        m_Clients.erase(std::remove_if(m_Clients.begin(), m_Clients.end(),
                                       [](const std::unique_ptr<Client>& pc) { return pc->bDead; }),
                        m_Clients.end());

        fds.assign(kFixedPoll + m_Clients.size(), JXPollFd());
        const JXSOCKET fixed[kFixedPoll] = {m_Listen, m_UdpRtp, m_UdpRtcp};
        for (size_t i = 0; i < kFixedPoll; ++i) {
            fds[i].fd = decltype(fds[i].fd)(fixed[i]);
            fds[i].events = POLLIN;
        }
        for (size_t i = 0; i < m_Clients.size(); ++i) {
            const Client& c = *m_Clients[i];
            JXPollFd& fd = fds[kFixedPoll + i];
            fd.fd = decltype(fd.fd)(c.s);
            fd.events = short(POLLIN | (c.QueueBytes() > 0 ? POLLOUT : 0));
        }
        const int nReady = PollSockets(fds.data(), fds.size(), NextWakeMs(CJXTime::GetTimeMS()));
        if (nReady <= 0) continue;

        const size_t nPolled = m_Clients.size();
        for (size_t i = 0; i < nPolled; ++i) {
            Client& c = *m_Clients[i];
            const short nEvents = fds[kFixedPoll + i].revents;
            if ((nEvents & (POLLIN | POLLHUP | POLLERR)) != 0) ReadClient(c);
            if (!c.bDead && (nEvents & POLLOUT) != 0) FlushClient(c);
        }
        if ((fds[1].revents & POLLIN) != 0) DrainUdp(m_UdpRtp);
        if ((fds[2].revents & POLLIN) != 0) DrainUdp(m_UdpRtcp);
        if ((fds[0].revents & POLLIN) != 0) AcceptClients();
    }
    for (auto& pc : m_Clients) {
        EndSession(*pc);
        JXSocketClose(pc->s);
    }
    m_Clients.clear();
}
