// One media track that `jxrtsp serve` streams: a clip cut into RTP packets
// once at start-up (built with CRTPData), shared by every session. A session
// sends frame i of its own timeline as clip frame i modulo the clip's length,
// patching sequence number, timestamp, SSRC and channel into a copy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CRTPData;
class CClipVideo;
struct tag_RTPHDR;

enum class JXServeKind { kH264, kH265, kJpeg, kPcma, kPcmu, kAac };

// A packet as CRTPData frames it for interleaving: 4 bytes of framing, then
// the RTP packet.
struct JXServePacket {
    uint32_t nOffset;   // in CServeTrack::m_Bytes
    uint16_t nLength;   // framing included
};

struct JXServeFrame {
    uint32_t nFirstPacket;
    uint32_t nPackets;
    bool bKey;   // a decoder can start here (every audio and JPEG frame)
};

class CServeTrack {
public:
    // RTP payload per packet: fits a 1500-byte link with room for the headers.
    static constexpr uint16_t kMaxPayload = 1400;
    static constexpr uint32_t kVideoClock = 90000;
    static constexpr uint32_t kAudioPacketMs = 20;   // 160 samples a packet
    static constexpr uint32_t kMinFps = 1;
    static constexpr uint32_t kMaxFps = 240;

    // Each loader: 0, or a negative code with the reason (the file named) in sWhy.
    int32_t LoadVideo(const std::string& sPath, bool bH265, uint32_t nFps, std::string& sWhy);
    int32_t LoadJpeg(const std::string& sPath, uint32_t nFps, std::string& sWhy);
    int32_t LoadAudio(const std::string& sPath, std::string& sWhy);   // A-law or mu-law from the WAVE format
    // An ADTS file, sent as mpeg4-generic AAC-hbr: one access unit a packet.
    int32_t LoadAac(const std::string& sPath, std::string& sWhy);

    // For the packetizers: append the packet CRTPData holds; close the frame
    // of the packets appended since the last EndFrame, with the marker on its
    // last packet only.
    int32_t AddPacket(const CRTPData& rtp);
    void EndFrame(bool bKey);

    bool IsVideo() const
    {
        return m_Kind != JXServeKind::kPcma && m_Kind != JXServeKind::kPcmu && m_Kind != JXServeKind::kAac;
    }
    // The media section of the SDP ("m=" to the last attribute, CRLF ended),
    // without its a=control line.
    std::string SdpMedia() const;
    // Milliseconds from the start of a timeline to its frame nFrame, and the
    // RTP clock ticks to it: exact for any frame count (no drift). Frames of
    // m_FrameTicks ticks (AAC's 1024 samples) need not make whole frames a second.
    uint64_t DueMs(uint64_t nFrame) const
    {
        return m_FrameTicks != 0 ? nFrame * m_FrameTicks * 1000 / m_ClockRate : nFrame * 1000 / m_FramesPerSecond;
    }
    uint32_t Ticks(uint64_t nFrame) const
    {
        return m_FrameTicks != 0 ? uint32_t(nFrame * m_FrameTicks) : uint32_t(nFrame * m_ClockRate / m_FramesPerSecond);
    }
    const uint8_t* PacketBytes(const JXServePacket& packet) const { return m_Bytes.data() + packet.nOffset; }

    JXServeKind m_Kind = JXServeKind::kH264;
    uint8_t m_PayloadType = 0;
    uint32_t m_ClockRate = kVideoClock;
    uint32_t m_FramesPerSecond = 25;
    uint32_t m_FrameTicks = 0;    // RTP ticks a frame when it is fixed (AAC); 0: from m_FramesPerSecond
    uint16_t m_Channels = 1;      // audio
    std::string m_Fmtp;   // empty: no a=fmtp line
    std::string m_Source;   // the clip file
    std::vector<uint8_t> m_Bytes;
    std::vector<JXServePacket> m_Packets;
    std::vector<JXServeFrame> m_Frames;

private:
    int32_t PacketizeNal(CRTPData& rtp, tag_RTPHDR& hdr, const uint8_t* pNal, uint32_t nLength);
    int32_t BuildFmtp(const CClipVideo& clip);
    uint32_t m_FrameStart = 0;   // first packet of the frame being built
};
