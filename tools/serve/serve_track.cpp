// Clips are packetized once: every session streams the same packets, so the
// cost per session is one copy and four patched header fields per packet.
#include "serve_track.h"

#include "JXBase.h"
#include "aac_adts.h"
#include "clip_audio.h"
#include "clip_file.h"
#include "clip_video.h"
#include "jpeg_packetizer.h"
#include "rtpdata.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
const uint8_t kDynamicPayloadType = 96;
const uint8_t kJpegPayloadType = 26;
const uint8_t kPcmaPayloadType = 8;
const uint8_t kPcmuPayloadType = 0;
const uint8_t kAacPayloadType = 97;
// AAC-hbr: a 16-bit AU-headers-length, then one 16-bit AU header (13-bit size, 3-bit index).
const uint32_t kAuHeaderBytes = 4;
const uint32_t kAuHeaderBits = 16;
const uint32_t kAuSizeShift = 3;
const uint8_t kRtpVersion = 2;
const uint8_t kMarkerBit = 0x80;
const uint32_t kMarkerByte = CRTPData::kFrameBytes + 1;   // RTP byte 1: marker and payload type
const uint8_t kH265FuType = 49;
const uint32_t kH264FuHeadBytes = 2;   // FU indicator, FU header
const uint32_t kH265FuHeadBytes = 3;   // payload header, FU header
const uint32_t kH265NalHeadBytes = 2;
const uint32_t kAudioSamplesPerPacket = CClipAudio::kRate * CServeTrack::kAudioPacketMs / 1000;

tag_RTPHDR MakeHeader(uint8_t nPayloadType)
{
    tag_RTPHDR hdr = {};
    hdr.nVersion = kRtpVersion;
    hdr.nPayloadType = nPayloadType;
    return hdr;
}

std::string Base64(const std::vector<uint8_t>& data)
{
    char* pText = nullptr;
    int32_t nText = 0;
    if (JXBASE64Encode(&pText, &nText, data.data(), int32_t(data.size())) != JX_OK || pText == nullptr) return "";
    std::string s(pText, size_t(nText));
    free(pText);
    return s;
}
}   // namespace

int32_t CServeTrack::AddPacket(const CRTPData& rtp)
{
    if (m_Bytes.size() + rtp.m_Length > UINT32_MAX) return JX_ERR_NOMEM;
    m_Packets.push_back({uint32_t(m_Bytes.size()), rtp.m_Length});
    m_Bytes.insert(m_Bytes.end(), rtp.m_Packet, rtp.m_Packet + rtp.m_Length);
    return JX_OK;
}

void CServeTrack::EndFrame(bool bKey)
{
    const uint32_t nEnd = uint32_t(m_Packets.size());
    if (nEnd == m_FrameStart) return;
    // CRTPData marks every single NAL unit packet; only the last packet of a
    // picture may carry the marker.
    for (uint32_t i = m_FrameStart; i < nEnd; ++i) {
        uint8_t& nByte = m_Bytes[m_Packets[i].nOffset + kMarkerByte];
        nByte = uint8_t(i + 1 == nEnd ? (nByte | kMarkerBit) : (nByte & ~kMarkerBit));
    }
    m_Frames.push_back({m_FrameStart, nEnd - m_FrameStart, bKey});
    m_FrameStart = nEnd;
}

int32_t CServeTrack::PacketizeNal(CRTPData& rtp, tag_RTPHDR& hdr, const uint8_t* pNal, uint32_t nLength)
{
    const bool bH265 = m_Kind == JXServeKind::kH265;
    int32_t nRet = JX_OK;
    if (nLength <= kMaxPayload) {
        // An H.264 NAL unit of its header alone cannot be built; it carries nothing.
        if (!bH265 && nLength < 2) return JX_OK;
        nRet = bH265 ? rtp.BuildH265RTP(&hdr, pNal, uint16_t(nLength))
                     : rtp.BuildH264RTP(&hdr, pNal[0], pNal + 1, uint16_t(nLength - 1));
        return nRet == JX_OK ? AddPacket(rtp) : nRet;
    }
    const uint32_t nHead = bH265 ? kH265NalHeadBytes : 1;
    const uint32_t nChunk = kMaxPayload - (bH265 ? kH265FuHeadBytes : kH264FuHeadBytes);
    uint16_t nPayloadHdr = 0;
    if (bH265) {
        // Type 49 in place of the NAL type, F, layer and TID kept.
        const uint8_t head[2] = {uint8_t((pNal[0] & 0x81) | (kH265FuType << 1)), pNal[1]};
        memcpy(&nPayloadHdr, head, sizeof(head));
    }
    for (uint32_t nPos = nHead; nPos < nLength && nRet == JX_OK; nPos += nChunk) {
        const uint32_t nPart = nLength - nPos < nChunk ? nLength - nPos : nChunk;
        const int nFlags = (nPos == nHead ? CRTPData::kFlagStart : 0) | (nPos + nPart == nLength ? CRTPData::kFlagEnd : 0);
        nRet = bH265 ? rtp.BuildH265RTPFu(&hdr, nPayloadHdr, uint8_t((pNal[0] >> 1) & 0x3F), pNal + nPos,
                                          uint16_t(nPart), nFlags)
                     : rtp.BuildH264RTPFu(&hdr, pNal[0], pNal + nPos, uint16_t(nPart), nFlags);
        if (nRet == JX_OK) nRet = AddPacket(rtp);
    }
    return nRet;
}

int32_t CServeTrack::BuildFmtp(const CClipVideo& clip)
{
    const std::string sSps = Base64(clip.m_Sps);
    const std::string sPps = Base64(clip.m_Pps);
    if (sSps.empty() || sPps.empty()) return JX_ERR_NOMEM;
    if (clip.m_H265) {
        const std::string sVps = Base64(clip.m_Vps);
        if (sVps.empty()) return JX_ERR_NOMEM;
        m_Fmtp = "sprop-vps=" + sVps + ";sprop-sps=" + sSps + ";sprop-pps=" + sPps;
        return JX_OK;
    }
    const size_t kProfileBytes = 4;   // NAL header, profile_idc, constraint flags, level_idc
    if (clip.m_Sps.size() < kProfileBytes) return JX_ERR_CONTENT;
    char profile[8];
    snprintf(profile, sizeof(profile), "%02x%02x%02x", clip.m_Sps[1], clip.m_Sps[2], clip.m_Sps[3]);
    m_Fmtp = std::string("packetization-mode=1;profile-level-id=") + profile + ";sprop-parameter-sets=" + sSps + "," +
             sPps;
    return JX_OK;
}

int32_t CServeTrack::LoadVideo(const std::string& sPath, bool bH265, uint32_t nFps, std::string& sWhy)
{
    m_Kind = bH265 ? JXServeKind::kH265 : JXServeKind::kH264;
    m_PayloadType = kDynamicPayloadType;
    m_ClockRate = kVideoClock;
    m_FramesPerSecond = nFps;
    m_Source = sPath;
    std::vector<uint8_t> data;
    if (JXReadClipFile(sPath, data, sWhy) != JX_OK) return JX_ERR_FAIL;
    CClipVideo clip;
    if (clip.Parse(std::move(data), bH265, sWhy) != JX_OK) {
        sWhy = sPath + ": " + sWhy;
        return JX_ERR_CONTENT;
    }
    if (BuildFmtp(clip) != JX_OK) {
        sWhy = sPath + ": unusable parameter sets";
        return JX_ERR_CONTENT;
    }
    CRTPData rtp;
    tag_RTPHDR hdr = MakeHeader(m_PayloadType);
    for (const JXClipUnit& unit : clip.m_Units) {
        int32_t nRet = JX_OK;
        // A key frame carries its parameter sets, so a client may start there.
        if (unit.bKey && !unit.bHasParams) {
            if (bH265) nRet = PacketizeNal(rtp, hdr, clip.m_Vps.data(), uint32_t(clip.m_Vps.size()));
            if (nRet == JX_OK) nRet = PacketizeNal(rtp, hdr, clip.m_Sps.data(), uint32_t(clip.m_Sps.size()));
            if (nRet == JX_OK) nRet = PacketizeNal(rtp, hdr, clip.m_Pps.data(), uint32_t(clip.m_Pps.size()));
        }
        for (uint32_t i = 0; i < unit.nNals && nRet == JX_OK; ++i) {
            const JXClipNal& nal = clip.m_Nals[unit.nFirstNal + i];
            nRet = PacketizeNal(rtp, hdr, clip.NalData(nal), nal.nLength);
        }
        if (nRet != JX_OK) {
            sWhy = sPath + ": cannot packetize (error " + std::to_string(nRet) + ")";
            return nRet;
        }
        EndFrame(unit.bKey);
    }
    return JX_OK;
}

int32_t CServeTrack::LoadJpeg(const std::string& sPath, uint32_t nFps, std::string& sWhy)
{
    m_Kind = JXServeKind::kJpeg;
    m_PayloadType = kJpegPayloadType;
    m_ClockRate = kVideoClock;
    m_FramesPerSecond = nFps;
    m_Source = sPath;
    std::vector<uint8_t> data;
    if (JXReadClipFile(sPath, data, sWhy) != JX_OK) return JX_ERR_FAIL;
    CRTPData rtp;
    tag_RTPHDR hdr = MakeHeader(m_PayloadType);
    size_t nPos = 0;
    for (uint32_t nPicture = 1; nPos < data.size(); ++nPicture) {
        JXJpegInfo info;
        std::string sReason;
        int32_t nRet = JXJpegParse(data.data() + nPos, data.size() - nPos, info, sReason);
        if (nRet == JX_OK) nRet = JXJpegPacketize(info, data.data() + nPos, rtp, hdr, *this);
        if (nRet != JX_OK) {
            sWhy = sPath + ": picture " + std::to_string(nPicture) + ": " +
                   (sReason.empty() ? "cannot packetize" : sReason);
            return nRet;
        }
        EndFrame(true);
        nPos += info.nPictureLength;
    }
    return JX_OK;
}

int32_t CServeTrack::LoadAudio(const std::string& sPath, std::string& sWhy)
{
    m_Source = sPath;
    m_ClockRate = CClipAudio::kRate;
    m_FramesPerSecond = 1000 / kAudioPacketMs;
    std::vector<uint8_t> data;
    if (JXReadClipFile(sPath, data, sWhy) != JX_OK) return JX_ERR_FAIL;
    CClipAudio clip;
    if (clip.Parse(data, sWhy) != JX_OK) {
        sWhy = sPath + ": " + sWhy;
        return JX_ERR_CONTENT;
    }
    const bool bALaw = clip.m_Format == CClipAudio::kFormatALaw;
    m_Kind = bALaw ? JXServeKind::kPcma : JXServeKind::kPcmu;
    m_PayloadType = bALaw ? kPcmaPayloadType : kPcmuPayloadType;
    // Whole packets only: the loop goes on with the first sample again.
    const size_t nPackets = clip.m_Samples.size() / kAudioSamplesPerPacket;
    if (nPackets == 0) {
        sWhy = sPath + ": shorter than one packet (" + std::to_string(kAudioSamplesPerPacket) + " samples)";
        return JX_ERR_CONTENT;
    }
    CRTPData rtp;
    tag_RTPHDR hdr = MakeHeader(m_PayloadType);
    for (size_t i = 0; i < nPackets; ++i) {
        const uint8_t* p = clip.m_Samples.data() + i * kAudioSamplesPerPacket;
        int32_t nRet = rtp.BuildPCMRTP(&hdr, p, uint16_t(kAudioSamplesPerPacket), nullptr, 0);
        if (nRet == JX_OK) nRet = AddPacket(rtp);
        if (nRet != JX_OK) {
            sWhy = sPath + ": cannot packetize";
            return nRet;
        }
        EndFrame(true);
    }
    return JX_OK;
}

int32_t CServeTrack::LoadAac(const std::string& sPath, std::string& sWhy)
{
    m_Kind = JXServeKind::kAac;
    m_PayloadType = kAacPayloadType;
    m_Source = sPath;
    std::vector<uint8_t> data;
    if (JXReadClipFile(sPath, data, sWhy) != JX_OK) return JX_ERR_FAIL;
    CRTPData rtp;
    tag_RTPHDR hdr = MakeHeader(m_PayloadType);
    JXAdtsFormat first;
    size_t nPos = 0;
    for (uint32_t nUnit = 1; nPos < data.size(); ++nUnit) {
        JXAdtsFormat format;
        size_t nHead = 0;
        size_t nFrame = 0;
        const std::string sWhere = sPath + ": frame " + std::to_string(nUnit) + ": ";
        if (!JXAdtsRead(data.data() + nPos, data.size() - nPos, nHead, nFrame, format)) {
            sWhy = sWhere + "not an ADTS frame (or cut short)";
            return JX_ERR_CONTENT;
        }
        if (nUnit == 1) first = format;
        if (format.nProfile != first.nProfile || format.nRateIndex != first.nRateIndex ||
            format.nChannelConfig != first.nChannelConfig) {
            sWhy = sWhere + "another format than the first frame's";
            return JX_ERR_CONTENT;
        }
        const uint32_t nUnitBytes = uint32_t(nFrame - nHead);
        if (nUnitBytes + kAuHeaderBytes > kMaxPayload) {
            sWhy = sWhere + "a unit larger than one packet";
            return JX_ERR_CONTENT;
        }
        const uint32_t nHeader = nUnitBytes << kAuSizeShift;   // AU-Index 0
        const uint8_t head[kAuHeaderBytes] = {0, uint8_t(kAuHeaderBits), uint8_t(nHeader >> 8), uint8_t(nHeader)};
        int32_t nRet = rtp.BuildPCMRTP(&hdr, head, uint16_t(sizeof(head)), data.data() + nPos + nHead,
                                       uint16_t(nUnitBytes));
        if (nRet == JX_OK) nRet = AddPacket(rtp);
        if (nRet != JX_OK) {
            sWhy = sWhere + "cannot packetize";
            return nRet;
        }
        EndFrame(true);
        nPos += nFrame;
    }
    if (m_Frames.empty()) {
        sWhy = sPath + ": no ADTS frame";
        return JX_ERR_CONTENT;
    }
    m_ClockRate = first.nRate;
    m_Channels = first.nChannels;
    m_FrameTicks = 1024;   // ADTS carries AAC frames of 1024 samples
    m_FramesPerSecond = (first.nRate + m_FrameTicks - 1) / m_FrameTicks;
    uint8_t config[2];
    JXAdtsConfig(first, config);
    char hex[5];
    snprintf(hex, sizeof(hex), "%02x%02x", config[0], config[1]);
    m_Fmtp = std::string("streamtype=5;profile-level-id=1;mode=AAC-hbr;sizelength=13;indexlength=3;"
                         "indexdeltalength=3;config=") + hex;
    return JX_OK;
}

std::string CServeTrack::SdpMedia() const
{
    const std::string sPt = std::to_string(m_PayloadType);
    // Media line kind and rtpmap encoding of each kind of track.
    struct JXSdpKind {
        JXServeKind kind;
        const char* pMedia;
        const char* pEncoding;
    };
    static const JXSdpKind kSdpKinds[] = {
        {JXServeKind::kH264, "video", "H264/90000"}, {JXServeKind::kH265, "video", "H265/90000"},
        {JXServeKind::kJpeg, "video", "JPEG/90000"}, {JXServeKind::kPcma, "audio", "PCMA/8000/1"},
        {JXServeKind::kPcmu, "audio", "PCMU/8000/1"},
    };
    std::string s;
    for (const JXSdpKind& k : kSdpKinds) {
        if (k.kind != m_Kind) continue;
        s = std::string("m=") + k.pMedia + " 0 RTP/AVP " + sPt + "\r\na=rtpmap:" + sPt + " " + k.pEncoding + "\r\n";
    }
    if (m_Kind == JXServeKind::kAac) {
        // The clock and channels are the clip's.
        s = "m=audio 0 RTP/AVP " + sPt + "\r\na=rtpmap:" + sPt + " MPEG4-GENERIC/" + std::to_string(m_ClockRate) + "/" +
            std::to_string(m_Channels) + "\r\n";
    }
    if (!m_Fmtp.empty()) s += "a=fmtp:" + sPt + " " + m_Fmtp + "\r\n";
    if (IsVideo()) s += "a=framerate:" + std::to_string(m_FramesPerSecond) + "\r\n";
    return s;
}
