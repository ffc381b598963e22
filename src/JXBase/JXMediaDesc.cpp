#include "JXMediaDesc.h"

#include "JXH264Head.h"
#include "JXH265Head.h"
#include "JXPacket.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kDefaultAudioRate = 8000;
constexpr uint16_t kAudioChannels = 1;
constexpr float kMaxFPS = 1000.0f;

constexpr uint8_t kH264NalSPS = 7;
constexpr uint8_t kH264FirstSlice = 1;   // types 1..5 are slices
constexpr uint8_t kH264LastSlice = 5;
constexpr uint8_t kH265NalSPS = 33;
constexpr uint8_t kH265FirstNonVcl = 32;   // types 0..31 are slices (VCL)

// JPEG markers (ITU-T T.81 Table B.1).
constexpr uint8_t kMarkSOI = 0xD8;
constexpr uint8_t kMarkEOI = 0xD9;
constexpr uint8_t kMarkSOS = 0xDA;
constexpr uint8_t kMarkTEM = 0x01;
constexpr uint8_t kMarkRST0 = 0xD0;
constexpr uint8_t kMarkRST7 = 0xD7;
constexpr int32_t kSofMinLength = 8;   // Lf, P, Y, X, Nf

bool IsH264(uint8_t nCodec)
{
    return nCodec == JX_CODEC_H264 || (nCodec >= 16 && nCodec <= 31);
}

bool IsH265(uint8_t nCodec)
{
    return nCodec == JX_CODEC_H265 || (nCodec >= 32 && nCodec <= 47);
}

// SOF0..SOF15 carry the frame header; C4 (DHT), C8 (JPG) and CC (DAC) share the range.
bool IsFrameHeader(uint8_t nMarker)
{
    return nMarker >= 0xC0 && nMarker <= 0xCF && nMarker != 0xC4 && nMarker != 0xC8 && nMarker != 0xCC;
}

// Index of the byte after the next 00 00 01 at or after nFrom, or -1.
int32_t FindStartCode(const uint8_t* p, int32_t n, int32_t nFrom)
{
    for (int32_t i = nFrom; i + 3 <= n; ++i) {
        if (p[i + 2] > 1) {
            i += 2;   // no start code can begin at i, i+1 or i+2
            continue;
        }
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return i + 3;
    }
    return -1;
}

// The picture size from the SPS among the NAL units in front of the frame's
// first slice.
int32_t ReadSpsSize(bool bH265, const uint8_t* p, int32_t n, JXSpsInfo* pInfo)
{
    int32_t nStart = FindStartCode(p, n, 0);
    while (nStart >= 0 && nStart < n) {
        int32_t nNext = FindStartCode(p, n, nStart);
        int32_t nEnd = (nNext < 0) ? n : nNext - 3;
        while (nEnd > nStart && p[nEnd - 1] == 0)
            --nEnd;   // the zero byte of a four-byte start code
        const uint8_t* pNal = p + nStart;
        int32_t nLen = nEnd - nStart;
        if (!bH265 && nLen >= 1) {
            uint8_t nType = pNal[0] & 0x1F;
            if (nType == kH264NalSPS && JXParseH264SPS(pNal + 1, nLen - 1, pInfo) == JX_OK) return JX_OK;
            if (nType >= kH264FirstSlice && nType <= kH264LastSlice) break;
        } else if (bH265 && nLen >= 2) {
            uint8_t nType = (pNal[0] >> 1) & 0x3F;
            if (nType == kH265NalSPS && JXParseH265SPS(pNal + 2, nLen - 2, pInfo) == JX_OK) return JX_OK;
            if (nType < kH265FirstNonVcl) break;
        }
        nStart = nNext;
    }
    return JX_ERR_CONTENT;
}

bool IsUsableFPS(float f)
{
    return std::isfinite(f) && f > 0.0f && f <= kMaxFPS;
}

}   // namespace

int32_t JXParseJpegSize(const uint8_t* pData, int32_t nLen, uint16_t* pWidth, uint16_t* pHeight)
{
    if (pWidth == nullptr || pHeight == nullptr || (pData == nullptr && nLen > 0)) return JX_ERR_ARG;
    if (nLen < 4 || pData[0] != 0xFF || pData[1] != kMarkSOI) return JX_ERR_CONTENT;
    int32_t i = 2;
    while (i < nLen) {
        // Segments follow each other directly; a marker may be padded with
        // any number of FF fill bytes (T.81 B.1.1.2).
        if (pData[i] != 0xFF) return JX_ERR_CONTENT;
        while (i < nLen && pData[i] == 0xFF)
            ++i;
        if (i >= nLen) break;
        uint8_t nMarker = pData[i++];
        if (nMarker == kMarkSOI || nMarker == kMarkTEM || (nMarker >= kMarkRST0 && nMarker <= kMarkRST7))
            continue;   // markers without a segment
        if (nMarker == 0x00 || nMarker == kMarkEOI || nMarker == kMarkSOS)
            return JX_ERR_CONTENT;   // scan data or the end before any frame header
        if (nLen - i < 2) break;
        int32_t nSeg = (pData[i] << 8) | pData[i + 1];
        if (nSeg < 2 || nSeg > nLen - i) return JX_ERR_CONTENT;   // segment length runs past the data
        if (IsFrameHeader(nMarker)) {
            if (nSeg < kSofMinLength) return JX_ERR_CONTENT;
            uint16_t nHeight = static_cast<uint16_t>((pData[i + 3] << 8) | pData[i + 4]);
            uint16_t nWidth = static_cast<uint16_t>((pData[i + 5] << 8) | pData[i + 6]);
            // A height of 0 is given later by a DNL segment; we do not go that far.
            if (nWidth == 0 || nHeight == 0) return JX_ERR_CONTENT;
            *pWidth = nWidth;
            *pHeight = nHeight;
            return JX_OK;
        }
        i += nSeg;
    }
    return JX_ERR_CONTENT;
}

CJXMediaDesc* CJXMediaDesc::Create(int32_t /*nVersion*/)
{
    return new (std::nothrow) CJXMediaDesc();
}

CJXMediaDesc::~CJXMediaDesc()
{
    delete m_Video;
    delete m_Audio;
}

void CJXMediaDesc::Release()
{
    delete this;
}

CJXMediaDesc* CJXMediaDesc::Clone() const
{
    CJXMediaDesc* pCopy = new (std::nothrow) CJXMediaDesc();
    if (pCopy == nullptr) return nullptr;
    if (m_Video != nullptr) {
        pCopy->m_Video = new (std::nothrow) JXVideoDesc(*m_Video);
        if (pCopy->m_Video == nullptr) {
            pCopy->Release();
            return nullptr;
        }
    }
    if (m_Audio != nullptr) {
        pCopy->m_Audio = new (std::nothrow) JXAudioDesc(*m_Audio);
        if (pCopy->m_Audio == nullptr) {
            pCopy->Release();
            return nullptr;
        }
    }
    return pCopy;
}

int32_t CJXMediaDesc::SetupAudio(uint16_t nCodec, uint16_t nChannels, uint32_t nRate)
{
    if (nChannels == 0 || nRate == 0) return JX_ERR_ARG;
    if (m_Audio == nullptr) {
        m_Audio = new (std::nothrow) JXAudioDesc();
        if (m_Audio == nullptr) return JX_ERR_NOMEM;
    }
    m_Audio->nCodec = nCodec;
    m_Audio->nChannels = nChannels;
    m_Audio->nRate = nRate;
    m_Audio->nConfigLen = 0;
    return JX_OK;
}

int32_t CJXMediaDesc::SetAudioConfig(const uint8_t* pConfig, int32_t nLen)
{
    if (m_Audio == nullptr) return JX_ERR_STATE;
    if (nLen < 0 || nLen > JX_AUDIO_CONFIG_BYTES || (pConfig == nullptr && nLen > 0)) return JX_ERR_ARG;
    if (nLen > 0) memcpy(m_Audio->aConfig, pConfig, static_cast<size_t>(nLen));
    m_Audio->nConfigLen = static_cast<uint16_t>(nLen);
    return JX_OK;
}

int32_t CJXMediaDesc::Setup(const CPacket* pPacket)
{
    if (pPacket == nullptr) return JX_ERR_ARG;
    if (pPacket->FrameIsAudio()) {
        uint32_t nRate = pPacket->FrameGetFreq();
        return SetupAudio(pPacket->FrameGetCodec(), kAudioChannels, nRate != 0 ? nRate : kDefaultAudioRate);
    }
    if (!pPacket->FrameIsVideo()) return JX_ERR_ARG;

    // Only the bytes the frame counts, and never more than its payload area.
    int64_t nAvail = pPacket->FrameGetCapacity();
    int64_t nCount = pPacket->FrameGetLength();
    int32_t nLen = static_cast<int32_t>(nCount < nAvail ? nCount : (nAvail > 0 ? nAvail : 0));
    const uint8_t* pData = pPacket->FrameGetData();

    uint8_t nCodec = pPacket->FrameGetCodec();
    JXVideoDesc desc;
    desc.nCodec = nCodec;
    int32_t nRet = JX_ERR_CONTENT;
    if (pPacket->FrameGetType() == JX_FRAME_JPEG || nCodec == JX_CODEC_JPEG) {
        desc.nCodec = JX_CODEC_JPEG;
        nRet = JXParseJpegSize(pData, nLen, &desc.nWidth, &desc.nHeight);
    } else if (IsH264(nCodec) || IsH265(nCodec)) {
        JXSpsInfo info;
        nRet = ReadSpsSize(IsH265(nCodec), pData, nLen, &info);
        if (nRet == JX_OK) {
            desc.nWidth = info.nWidth;
            desc.nHeight = info.nHeight;
            desc.fFPS = info.fFPS;
        }
    }
    if (nRet != JX_OK) {
        // The depacketizer stamps the size it knows on the frame; use it when the
        // bytes themselves tell none.
        if (pPacket->FrameGetWidth() == 0 || pPacket->FrameGetHeight() == 0) return JX_ERR_CONTENT;
        desc.nWidth = pPacket->FrameGetWidth();
        desc.nHeight = pPacket->FrameGetHeight();
    }
    // Without timing in the stream, the rate estimated from the RTP timestamps.
    if (desc.fFPS == 0.0f && IsUsableFPS(pPacket->FrameGetFPS())) desc.fFPS = pPacket->FrameGetFPS();

    if (m_Video == nullptr) {
        m_Video = new (std::nothrow) JXVideoDesc();
        if (m_Video == nullptr) return JX_ERR_NOMEM;
    }
    *m_Video = desc;
    return JX_OK;
}

int32_t CJXMediaDesc::SetVideoHead(CJXMediaHead* pHead)
{
    CJXVideoHead* pVideo = dynamic_cast<CJXVideoHead*>(pHead);
    if (pVideo == nullptr) return JX_ERR_ARG;
    if (!pVideo->IsReady()) return JX_ERR_STATE;
    if (m_Video == nullptr) {
        m_Video = new (std::nothrow) JXVideoDesc();
        if (m_Video == nullptr) return JX_ERR_NOMEM;
    }
    m_Video->nCodec = static_cast<uint16_t>(pVideo->GetCodec());
    m_Video->nWidth = pVideo->m_Width;
    m_Video->nHeight = pVideo->m_Height;
    m_Video->fFPS = pVideo->m_FPS;
    return JX_OK;
}
