#include "raw_writer.h"

#include "JXMediaDesc.h"
#include "JXPacket.h"

#include <cstring>
#include <new>

namespace {

const size_t kFileBuffer = 64 * 1024;   // one write call per this many bytes
const uint8_t kFirstPrivateH264 = 16;
const uint8_t kLastPrivateH264 = 31;
const uint8_t kFirstPrivateH265 = 32;
const uint8_t kLastPrivateH265 = 47;

// WAVE for G.711: RIFF, an 18-byte fmt chunk, a fact chunk (sample count, as
// non-PCM formats carry) and the data chunk; 58 bytes before the samples.
const size_t kWavHeader = 58;
const uint16_t kWavAlaw = 6;
const uint16_t kWavMulaw = 7;
const uint32_t kG711Rate = 8000;
const uint16_t kG711Channels = 1;
// RIFF sizes are 32 bits; samples past this are not written.
const uint64_t kWavMaxData = 0xFFFFFFFFull - kWavHeader - 1;

void PutLE16(uint8_t* p, uint16_t n)
{
    p[0] = uint8_t(n);
    p[1] = uint8_t(n >> 8);
}

void PutLE32(uint8_t* p, uint32_t n)
{
    PutLE16(p, uint16_t(n));
    PutLE16(p + 2, uint16_t(n >> 16));
}

void BuildWavHeader(uint8_t* p, uint16_t nFormat, uint32_t nRate, uint32_t nData)
{
    const uint32_t nPad = nData & 1;
    memcpy(p, "RIFF", 4);
    PutLE32(p + 4, uint32_t(kWavHeader - 8 + nData + nPad));
    memcpy(p + 8, "WAVEfmt ", 8);
    PutLE32(p + 16, 18);
    PutLE16(p + 20, nFormat);
    PutLE16(p + 22, kG711Channels);
    PutLE32(p + 24, nRate);
    PutLE32(p + 28, nRate * kG711Channels);   // one byte per sample
    PutLE16(p + 32, kG711Channels);           // block align
    PutLE16(p + 34, 8);                       // bits per sample
    PutLE16(p + 36, 0);                       // no extra format bytes
    memcpy(p + 38, "fact", 4);
    PutLE32(p + 42, 4);
    PutLE32(p + 46, nData / kG711Channels);
    memcpy(p + 50, "data", 4);
    PutLE32(p + 54, nData);
}

}   // namespace

uint8_t VideoCodecFamily(uint8_t nCodec)
{
    if (nCodec == JX_CODEC_H264 || (nCodec >= kFirstPrivateH264 && nCodec <= kLastPrivateH264)) return JX_CODEC_H264;
    if (nCodec == JX_CODEC_H265 || (nCodec >= kFirstPrivateH265 && nCodec <= kLastPrivateH265)) return JX_CODEC_H265;
    if (nCodec == JX_CODEC_JPEG) return JX_CODEC_JPEG;
    return 0;
}

uint32_t WriteFrameFile(const std::string& sPath, const CPacket& frame)
{
    FILE* pFile = fopen(sPath.c_str(), "wb");
    if (pFile == nullptr) return 1;
    uint32_t nErrors = 0;
    if (fwrite(frame.FrameGetData(), 1, frame.FrameGetLength(), pFile) != frame.FrameGetLength()) ++nErrors;
    if (fclose(pFile) != 0) ++nErrors;
    return nErrors;
}

const char* CodecName(uint8_t nFamily)
{
    switch (nFamily) {
    case JX_CODEC_H264: return "h264";
    case JX_CODEC_H265: return "h265";
    case JX_CODEC_JPEG: return "jpeg";
    case JX_CODEC_PCMA: return "pcma";
    case JX_CODEC_PCMU: return "pcmu";
    case JX_CODEC_AAC: return "aac";
    default: return "";
    }
}

CRawWriter::CRawWriter(const std::string& sDir) : m_Dir(sDir) {}

CRawWriter::~CRawWriter()
{
    Close();
}

FILE* CRawWriter::OpenFile(const std::string& sName, std::unique_ptr<char[]>& pBuffer)
{
    const std::string sPath = m_Dir + "/" + sName;
    FILE* pFile = fopen(sPath.c_str(), "wb");
    if (pFile == nullptr) {
        ++m_Errors;
        return nullptr;
    }
    if (pBuffer == nullptr) pBuffer.reset(new (std::nothrow) char[kFileBuffer]);
    if (pBuffer != nullptr) setvbuf(pFile, pBuffer.get(), _IOFBF, kFileBuffer);
    return pFile;
}

void CRawWriter::Put(FILE* pFile, const void* pData, size_t nBytes)
{
    if (fwrite(pData, 1, nBytes, pFile) != nBytes) ++m_Errors;
}

void CRawWriter::WriteVideo(const CPacket& frame)
{
    const uint8_t nFamily = VideoCodecFamily(frame.FrameGetCodec());
    if (nFamily == 0) {
        ++m_Skipped;
        return;
    }
    if (m_Video == nullptr && m_VideoCodec == 0) {
        m_VideoCodec = nFamily;
        m_VideoName = nFamily == JX_CODEC_JPEG ? "video.mjpeg" : std::string("video.") + CodecName(nFamily);
        m_Video = OpenFile(m_VideoName, m_VideoBuffer);
    }
    // A camera that changes codec between sessions: its frames would make the
    // open file unreadable, so they are counted and left out.
    if (m_Video == nullptr || nFamily != m_VideoCodec) {
        ++m_Skipped;
        return;
    }
    Put(m_Video, frame.FrameGetData(), frame.FrameGetLength());
}

void CRawWriter::SetMediaDesc(const JXVideoDesc* /*pVideo*/, const JXAudioDesc* pAudio)
{
    // AAC units carry no header of their own: the config gives the one each gets in the file.
    m_HasAdts = pAudio != nullptr && pAudio->nCodec == JX_CODEC_AAC &&
                JXAdtsFromConfig(pAudio->aConfig, pAudio->nConfigLen, m_Adts);
}

void CRawWriter::OpenAudio(const CPacket& frame)
{
    m_AudioCodec = frame.FrameGetCodec();
    m_AudioRate = frame.FrameGetFreq() != 0 ? frame.FrameGetFreq() : kG711Rate;
    if (m_AudioCodec == JX_CODEC_AAC) {
        m_AudioName = "audio.aac";
        m_Audio = OpenFile(m_AudioName, m_AudioBuffer);
        return;
    }
    m_AudioName = "audio.wav";
    m_Audio = OpenFile(m_AudioName, m_AudioBuffer);
    // Sizes stay 0 until Close writes them.
    uint8_t header[kWavHeader];
    BuildWavHeader(header, m_AudioCodec == JX_CODEC_PCMA ? kWavAlaw : kWavMulaw, m_AudioRate, 0);
    if (m_Audio != nullptr) Put(m_Audio, header, sizeof(header));
}

void CRawWriter::PutAac(const CPacket& frame)
{
    if (m_Audio == nullptr || frame.FrameGetLength() > kAdtsMaxUnit) {
        ++m_Skipped;
        return;
    }
    uint8_t header[kAdtsHeaderBytes];
    JXAdtsHeader(m_Adts, frame.FrameGetLength(), header);
    Put(m_Audio, header, sizeof(header));
    Put(m_Audio, frame.FrameGetData(), frame.FrameGetLength());
    m_AudioData += frame.FrameGetLength();
}

void CRawWriter::WriteAudio(const CPacket& frame)
{
    const uint8_t nCodec = frame.FrameGetCodec();
    // AAC without a config ADTS can carry would be a file no player reads.
    const bool bAac = nCodec == JX_CODEC_AAC && m_HasAdts;
    if (nCodec != JX_CODEC_PCMA && nCodec != JX_CODEC_PCMU && !bAac) {
        ++m_Skipped;
        return;
    }
    if (m_Audio == nullptr && m_AudioCodec == 0) OpenAudio(frame);
    if (bAac && m_AudioCodec == JX_CODEC_AAC) {
        PutAac(frame);
        return;
    }
    const uint32_t nRate = frame.FrameGetFreq() != 0 ? frame.FrameGetFreq() : kG711Rate;
    if (m_Audio == nullptr || nCodec != m_AudioCodec || nRate != m_AudioRate ||
        m_AudioData + frame.FrameGetLength() > kWavMaxData) {
        ++m_Skipped;
        return;
    }
    Put(m_Audio, frame.FrameGetData(), frame.FrameGetLength());
    m_AudioData += frame.FrameGetLength();
}

void CRawWriter::CloseWav()
{
    if ((m_AudioData & 1) != 0) {
        const uint8_t nPad = 0;   // RIFF chunks end on an even byte
        Put(m_Audio, &nPad, 1);
    }
    uint8_t header[kWavHeader];
    BuildWavHeader(header, m_AudioCodec == JX_CODEC_PCMA ? kWavAlaw : kWavMulaw, m_AudioRate, uint32_t(m_AudioData));
    if (fseek(m_Audio, 0, SEEK_SET) != 0) {
        ++m_Errors;
        return;
    }
    Put(m_Audio, header, sizeof(header));
}

void CRawWriter::Close()
{
    if (m_Video != nullptr && fclose(m_Video) != 0) ++m_Errors;
    m_Video = nullptr;
    if (m_Audio != nullptr) {
        if (m_AudioCodec != JX_CODEC_AAC) CloseWav();
        if (fclose(m_Audio) != 0) ++m_Errors;
    }
    m_Audio = nullptr;
}

void CRawWriter::Fill(JXStreamSummary& summary) const
{
    summary.video.sFile = m_VideoName;
    summary.audio.sFile = m_AudioName;
    summary.nSkippedFrames = m_Skipped;
    summary.nWriteErrors = m_Errors;
}
