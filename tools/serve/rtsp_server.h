// The RTSP/1.0 server of `jxrtsp serve`: one thread, one poll loop over
// non-blocking sockets, listening on 127.0.0.1 only. Each connection holds at
// most one session; its RTP goes interleaved on the connection or by unicast
// UDP to the connection's own peer address. A slow reader never holds up the
// others: its output queue is bounded and whole frames are dropped for it.
#pragma once

#include "JXNet.h"
#include "rtsp_server_auth.h"
#include "serve_track.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

class CRtspServerRequest;

struct JXServeConfig {
    uint16_t nPort = 0;   // 0: a free port
    CRtspServerAuth::Mode auth = CRtspServerAuth::Mode::kNone;
    std::string sUser;
    std::string sPassword;
    std::string sMedia = "h264";   // what any other path serves
    std::string sClip;             // replaces the H.264 clip (.h265/.hevc: the H.265 one)
    uint32_t nFps = 25;            // frame rate of the video clips
    bool bQuiet = false;           // no "session ended" lines
};

class CRtspServer {
public:
    static constexpr size_t kMaxQueueBytes = size_t(4) << 20;   // per connection, beyond it frames drop
    static constexpr size_t kMaxClients = 1024;
    static constexpr int kMaxTracks = 2;

    CRtspServer();
    ~CRtspServer();
    CRtspServer(const CRtspServer&) = delete;
    CRtspServer& operator=(const CRtspServer&) = delete;

    // Load the clips and listen. 0, or a negative code with the reason in sWhy.
    int32_t Start(const JXServeConfig& config, std::string& sWhy);
    uint16_t GetPort() const { return m_Port; }
    // Serve until RequestStop (any thread) or until *pSignal (may be null)
    // becomes non-zero; then every connection is closed.
    void Run(const volatile std::sig_atomic_t* pSignal);
    void RequestStop() { m_Stop = true; }

    // The media a path names ("/h264", "/h264+pcmu", ...): its tracks, or the
    // configured default for any other path.
    std::vector<const CServeTrack*> TracksForPath(const std::string& sPath) const;

private:
    struct TrackState;
    struct Client;

    int32_t LoadClips(std::string& sWhy);
    int32_t OpenUdp(std::string& sWhy);
    void AcceptClients();
    void DrainUdp(JXSOCKET s);
    void ReadClient(Client& c);
    void HandleRequest(Client& c, const CRtspServerRequest& req);
    void Reply(Client& c, int nStatus, int64_t nCSeq, const std::string& sHeaders, const std::string& sBody = "");
    void OnDescribe(Client& c, const CRtspServerRequest& req);
    void OnSetup(Client& c, const CRtspServerRequest& req);
    void OnPlay(Client& c, const CRtspServerRequest& req);
    void EndSession(Client& c);
    void PumpFrames(Client& c, uint64_t nNowMs);
    void SendFrame(Client& c, TrackState& t);
    void FlushClient(Client& c);
    int NextWakeMs(uint64_t nNowMs) const;
    std::string SessionHeader(const Client& c) const;
    std::string BaseUrl(const std::string& sPath) const;

    JXServeConfig m_Config;
    CRtspServerAuth m_Auth;
    CServeTrack m_H264;
    CServeTrack m_H265;
    CServeTrack m_Jpeg;
    CServeTrack m_Pcma;
    CServeTrack m_Pcmu;
    CServeTrack m_Aac;
    JXSOCKET m_Listen = JX_INVALID_SOCKET;
    JXSOCKET m_UdpRtp = JX_INVALID_SOCKET;    // every UDP session sends from this pair
    JXSOCKET m_UdpRtcp = JX_INVALID_SOCKET;
    uint16_t m_Port = 0;
    uint16_t m_UdpPort = 0;
    bool m_NetStarted = false;
    std::atomic<bool> m_Stop{false};
    std::vector<std::unique_ptr<Client>> m_Clients;
    std::mt19937 m_Random;
    std::vector<uint8_t> m_Scratch;   // one UDP packet being patched
};
