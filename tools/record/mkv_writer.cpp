#include "mkv_writer.h"

#include "frame_time.h"
#include "segment_name.h"

#include "JXMediaDesc.h"
#include "JXPacket.h"

#include <cstdio>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

namespace {

const int kMaxRateDenominator = 1001000;   // 29.97 and such stay exact
const AVRational kMsTimeBase = {1, 1000};
const uint32_t kG711Rate = 8000;
const int kG711Channels = 1;
const int64_t kMsPerSecond = 1000;

// Audio held while the first video key frame is awaited: 10 s (a camera's key
// frames may be that far apart) of G.711, or of AAC up to 256 kbit/s, in
// packets of 10 ms or more.
const uint32_t kPendingBytes = 10 * 32000;
const uint32_t kPendingFrames = 1000;
// A stream whose description names no video is recorded as sound only once
// this much sound has come without a picture.
const int64_t kVideoWaitMs = 3000;

// Parameter sets in front of a key frame: at most this many bytes go into
// the file's codec header.
const size_t kMaxExtradata = 4096;
const uint8_t kH264NalMask = 0x1F;
const uint8_t kH264Sps = 7;
const uint8_t kH264Pps = 8;
const uint8_t kH265VpS = 32;
const uint8_t kH265Pps = 34;
const uint8_t kStartCode[] = {0, 0, 0, 1};

// Offset of the byte after the next 00 00 01 at or after nFrom; nLen when none.
size_t NextNal(const uint8_t* p, size_t nLen, size_t nFrom)
{
    for (size_t i = nFrom; i + 3 <= nLen; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return i + 3;
    }
    return nLen;
}

bool IsParameterSet(uint8_t nFamily, uint8_t nHeader)
{
    if (nFamily == JX_CODEC_H264) {
        const uint8_t nType = nHeader & kH264NalMask;
        return nType == kH264Sps || nType == kH264Pps;
    }
    const uint8_t nType = (nHeader >> 1) & 0x3F;
    return nType >= kH265VpS && nType <= kH265Pps;
}

// The parameter sets found in an Annex B access unit, each behind a 4-byte
// start code, in av_malloc'ed memory the codec parameters take over. 0 when
// there are none.
int CopyParameterSets(uint8_t nFamily, const uint8_t* p, size_t nLen, uint8_t*& pOut)
{
    uint8_t buffer[kMaxExtradata];
    size_t nUsed = 0;
    size_t nAt = NextNal(p, nLen, 0);
    while (nAt < nLen) {
        const size_t nNext = NextNal(p, nLen, nAt);
        size_t nEnd = nNext == nLen ? nLen : nNext - 3;
        while (nEnd > nAt && p[nEnd - 1] == 0)
            --nEnd;   // the next start code's leading zero
        if (IsParameterSet(nFamily, p[nAt])) {
            const size_t nNal = nEnd - nAt;
            if (nUsed + sizeof(kStartCode) + nNal > sizeof(buffer)) break;
            memcpy(buffer + nUsed, kStartCode, sizeof(kStartCode));
            memcpy(buffer + nUsed + sizeof(kStartCode), p + nAt, nNal);
            nUsed += sizeof(kStartCode) + nNal;
        }
        nAt = nNext;
    }
    if (nUsed == 0) return 0;
    pOut = static_cast<uint8_t*>(av_mallocz(nUsed + AV_INPUT_BUFFER_PADDING_SIZE));
    if (pOut == nullptr) return 0;
    memcpy(pOut, buffer, nUsed);
    return int(nUsed);
}

bool IsG711(uint8_t nCodec)
{
    return nCodec == JX_CODEC_PCMA || nCodec == JX_CODEC_PCMU;
}

AVCodecID AudioCodecId(uint8_t nCodec)
{
    switch (nCodec) {
    case JX_CODEC_PCMA: return AV_CODEC_ID_PCM_ALAW;
    case JX_CODEC_PCMU: return AV_CODEC_ID_PCM_MULAW;
    default: return AV_CODEC_ID_AAC;
    }
}

}   // namespace

CMkvWriter::CMkvWriter(const std::string& sPath, int64_t nStartUtcMs)
    : m_Path(sPath), m_FileName(sPath.substr(sPath.find_last_of("/\\") + 1)), m_StartUtcMs(nStartUtcMs)
{
}

CMkvWriter::~CMkvWriter()
{
    Close();
}

void CMkvWriter::SetMediaDesc(const JXVideoDesc* pVideo, const JXAudioDesc* pAudio)
{
    m_ExpectVideo = pVideo != nullptr;
    if (pVideo != nullptr) {
        m_DescWidth = pVideo->nWidth;
        m_DescHeight = pVideo->nHeight;
    }
    if (pAudio != nullptr && IsG711(uint8_t(pAudio->nCodec))) {
        m_DescAudioCodec = uint8_t(pAudio->nCodec);
        m_DescAudioRate = pAudio->nRate != 0 ? pAudio->nRate : kG711Rate;
    }
    // AAC is recorded only with its config: without it no player decodes the track.
    if (pAudio != nullptr && pAudio->nCodec == JX_CODEC_AAC && pAudio->nConfigLen > 0 &&
        pAudio->nConfigLen <= JX_AUDIO_CONFIG_BYTES && pAudio->nRate != 0 && pAudio->nChannels != 0) {
        m_DescAudioCodec = JX_CODEC_AAC;
        m_DescAudioRate = pAudio->nRate;
        m_DescChannels = pAudio->nChannels;
        memcpy(m_DescConfig, pAudio->aConfig, pAudio->nConfigLen);
        m_DescConfigLen = pAudio->nConfigLen;
        // A config ADTS cannot carry still has units of 1024 samples at the
        // description's rate, near enough for a duration.
        if (!JXAdtsFromConfig(m_DescConfig, m_DescConfigLen, m_Aac)) m_Aac.nRate = m_DescAudioRate;
    }
}

bool CMkvWriter::IsRecordedAudio(uint8_t nCodec) const
{
    return IsG711(nCodec) || (nCodec == JX_CODEC_AAC && m_DescAudioCodec == JX_CODEC_AAC);
}

void CMkvWriter::FailOpen()
{
    ++m_Errors;
    m_OpenFailed = true;
    if (m_Format != nullptr) {
        if (m_Format->pb != nullptr) avio_closep(&m_Format->pb);
        avformat_free_context(m_Format);
    }
    m_Format = nullptr;
    m_Video.pStream = nullptr;
    m_Audio.pStream = nullptr;
    av_packet_free(&m_Packet);
    // What waited for the file is lost with it.
    m_Skipped += m_PendingCount;
    m_PendingCount = 0;
    m_PendingUsed = 0;
}

// Opens the file with a video stream described by pKeyFrame (when given)
// and an audio stream of nAudioCodec (when not 0), and writes the header.
bool CMkvWriter::OpenFile(const CPacket* pKeyFrame, uint8_t nAudioCodec, uint32_t nAudioRate)
{
    const std::string& sPath = m_Path;
    if (avformat_alloc_output_context2(&m_Format, nullptr, "matroska", sPath.c_str()) < 0 || m_Format == nullptr) {
        m_Format = nullptr;
        FailOpen();
        return false;
    }
    m_Packet = av_packet_alloc();
    if (m_Packet == nullptr) {
        FailOpen();
        return false;
    }
    if (pKeyFrame != nullptr) {
        m_Video.pStream = avformat_new_stream(m_Format, nullptr);
        if (m_Video.pStream == nullptr) {
            FailOpen();
            return false;
        }
        AVCodecParameters* pPar = m_Video.pStream->codecpar;
        pPar->codec_type = AVMEDIA_TYPE_VIDEO;
        const bool bSized = pKeyFrame->FrameGetWidth() != 0 && pKeyFrame->FrameGetHeight() != 0;
        pPar->width = bSized ? pKeyFrame->FrameGetWidth() : m_DescWidth;
        pPar->height = bSized ? pKeyFrame->FrameGetHeight() : m_DescHeight;
        m_VideoCodec = VideoCodecFamily(pKeyFrame->FrameGetCodec());
        if (m_VideoCodec == JX_CODEC_JPEG) {
            pPar->codec_id = AV_CODEC_ID_MJPEG;
        } else {
            pPar->codec_id = m_VideoCodec == JX_CODEC_H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC;
            // Annex B sets: the muxer turns them into its own codec header,
            // and the access units into length-prefixed ones.
            pPar->extradata_size = CopyParameterSets(m_VideoCodec, pKeyFrame->FrameGetData(),
                                                     pKeyFrame->FrameGetLength(), pPar->extradata);
        }
        m_Video.pStream->time_base = kMsTimeBase;
        if (pKeyFrame->FrameGetFPS() > 0.0f)
            m_Video.pStream->avg_frame_rate = av_d2q(double(pKeyFrame->FrameGetFPS()), kMaxRateDenominator);
    }
    if (nAudioCodec != 0) {
        m_Audio.pStream = avformat_new_stream(m_Format, nullptr);
        if (m_Audio.pStream == nullptr) {
            FailOpen();
            return false;
        }
        AVCodecParameters* pPar = m_Audio.pStream->codecpar;
        pPar->codec_type = AVMEDIA_TYPE_AUDIO;
        pPar->codec_id = AudioCodecId(nAudioCodec);
        pPar->sample_rate = int(nAudioRate);
        if (nAudioCodec == JX_CODEC_AAC) {
            av_channel_layout_default(&pPar->ch_layout, m_DescChannels);
            pPar->extradata = static_cast<uint8_t*>(av_mallocz(m_DescConfigLen + AV_INPUT_BUFFER_PADDING_SIZE));
            if (pPar->extradata == nullptr) {
                FailOpen();
                return false;
            }
            memcpy(pPar->extradata, m_DescConfig, m_DescConfigLen);
            pPar->extradata_size = m_DescConfigLen;
            pPar->frame_size = m_Aac.nFrameSamples;
        } else {
            av_channel_layout_default(&pPar->ch_layout, kG711Channels);
            pPar->bits_per_coded_sample = 8;
        }
        m_Audio.pStream->time_base = kMsTimeBase;
        m_AudioCodec = nAudioCodec;
        m_AudioRate = nAudioRate;
    }
    AVIOContext* pIo = nullptr;
    if (avio_open2(&pIo, sPath.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0) {
        FailOpen();
        return false;
    }
    m_Format->pb = pIo;
    // The muxer writes it as the file's date (DateUTC in its Info).
    av_dict_set(&m_Format->metadata, "creation_time", UtcText(m_StartUtcMs).c_str(), 0);
    if (avformat_write_header(m_Format, nullptr) < 0) {
        FailOpen();
        return false;
    }
    m_Opened = true;
    return true;
}

void CMkvWriter::Put(JXTrack& track, const uint8_t* pData, uint32_t nLength, int64_t nTimeMs, bool bKey,
                     int64_t nDurationMs, int64_t nStepMs)
{
    // The frame's own time from the camera's clock, on the base both tracks
    // share: arrival jitter is not in it, a silence keeps its length and a
    // camera that varies its frame rate keeps its spacing.
    int64_t nRel = nTimeMs - m_BaseMs + track.nShiftMs;
    if (track.nLastMs < 0 && nRel < 0) {
        // Nothing is written before the file's start: video begins the file
        // and audio from before it is cut in PutAudio, so only a clock set
        // back between the two comes here.
        nRel = 0;
    } else if (nRel == track.nLastMs) {
        // A frame whose time does not advance still gets its own.
        ++nRel;
    } else if (track.nLastMs >= 0 && nRel < track.nLastMs) {
        // The stream's time stepped back (local time set back an hour, a new
        // session stamped by a module that took arrival times): this frame
        // follows the last one by its usual interval, and so do the next
        // ones, instead of piling up a millisecond apart.
        const int64_t nShift = track.nLastMs + (nStepMs > 0 ? nStepMs : 1) - nRel;
        track.nShiftMs += nShift;
        nRel += nShift;
    }
    track.nLastMs = nRel;
    AVStream* pStream = track.pStream;
    m_Packet->data = const_cast<uint8_t*>(pData);
    m_Packet->size = int(nLength);
    m_Packet->stream_index = pStream->index;
    m_Packet->pts = av_rescale_q(nRel, kMsTimeBase, pStream->time_base);
    m_Packet->dts = m_Packet->pts;
    m_Packet->duration = av_rescale_q(nDurationMs, kMsTimeBase, pStream->time_base);
    m_Packet->flags = bKey ? AV_PKT_FLAG_KEY : 0;
    m_Packet->pos = -1;
    if (av_write_frame(m_Format, m_Packet) < 0) ++m_Errors;
    m_Packet->data = nullptr;
    m_Packet->size = 0;
}

void CMkvWriter::PutAudio(const uint8_t* pData, uint32_t nLength, int64_t nTimeMs)
{
    // A packet's samples are sent once the last of them is taken, so one that
    // began before the first picture may arrive after it, when the file's 0
    // is already that picture. Its samples from before 0 are cut off: the
    // rest starts at 0 and both tracks keep the one base.
    const int64_t nEarlyMs = m_BaseMs - nTimeMs;
    if (m_AudioCodec == JX_CODEC_AAC) {
        // A unit decodes only whole: one that began before the start is left out.
        const int64_t nUnitMs = m_Aac.nRate != 0 ? int64_t(m_Aac.nFrameSamples) * kMsPerSecond / m_Aac.nRate : 1;
        if (nEarlyMs > 0 && m_Audio.nLastMs < 0) {
            ++m_Skipped;
            return;
        }
        Put(m_Audio, pData, nLength, nTimeMs, true, nUnitMs, nUnitMs);
        return;
    }
    if (nEarlyMs > 0 && m_Audio.nLastMs < 0) {
        const uint64_t nCut = uint64_t(nEarlyMs) * m_AudioRate / kMsPerSecond;
        if (nCut >= nLength) {
            ++m_Skipped;
            return;
        }
        pData += nCut;
        nLength -= uint32_t(nCut);
        nTimeMs = m_BaseMs;
    }
    const int64_t nDuration = int64_t(nLength) * kMsPerSecond / m_AudioRate;
    Put(m_Audio, pData, nLength, nTimeMs, true, nDuration, nDuration);
}

void CMkvWriter::PendAudio(const CPacket& frame)
{
    const uint32_t nLength = frame.FrameGetLength();
    if (m_Pending == nullptr) {
        m_PendingBytes.reset(new (std::nothrow) uint8_t[kPendingBytes]);
        m_Pending.reset(new (std::nothrow) JXPendingAudio[kPendingFrames]);
    }
    const uint32_t nRate = frame.FrameGetFreq() != 0 ? frame.FrameGetFreq() : kG711Rate;
    if (m_PendingCount == 0) {
        m_PendingCodec = frame.FrameGetCodec();
        m_PendingRate = nRate;
    }
    if (m_Pending == nullptr || m_PendingBytes == nullptr || nLength > kPendingBytes ||
        frame.FrameGetCodec() != m_PendingCodec || nRate != m_PendingRate) {
        ++m_Skipped;
        return;
    }
    // Full: the oldest sound gives way, the key frame may be seconds away.
    uint32_t nDrop = 0;
    while (nDrop < m_PendingCount && (m_PendingCount - nDrop >= kPendingFrames ||
                                      m_PendingUsed - m_Pending[nDrop].nOffset + nLength > kPendingBytes))
        ++nDrop;
    if (nDrop != 0) {
        const uint32_t nFrom = nDrop < m_PendingCount ? m_Pending[nDrop].nOffset : m_PendingUsed;
        memmove(m_PendingBytes.get(), m_PendingBytes.get() + nFrom, m_PendingUsed - nFrom);
        m_PendingUsed -= nFrom;
        m_PendingCount -= nDrop;
        for (uint32_t i = 0; i < m_PendingCount; ++i) {
            m_Pending[i] = m_Pending[i + nDrop];
            m_Pending[i].nOffset -= nFrom;
        }
        m_Skipped += nDrop;
    }
    memcpy(m_PendingBytes.get() + m_PendingUsed, frame.FrameGetData(), nLength);
    m_Pending[m_PendingCount] = {m_PendingUsed, nLength, FrameTimeMs(frame)};
    m_PendingUsed += nLength;
    ++m_PendingCount;
}

void CMkvWriter::FlushPendingAudio()
{
    for (uint32_t i = 0; i < m_PendingCount; ++i) {
        const JXPendingAudio& a = m_Pending[i];
        PutAudio(m_PendingBytes.get() + a.nOffset, a.nLength, a.nTimeMs);
    }
    m_PendingCount = 0;
    m_PendingUsed = 0;
    // Only ever needed before the file opens.
    m_PendingBytes.reset();
    m_Pending.reset();
}

void CMkvWriter::OpenPendingAudio()
{
    if (m_PendingCount == 0) return;
    m_BaseMs = m_Pending[0].nTimeMs;
    if (OpenFile(nullptr, m_PendingCodec, m_PendingRate)) FlushPendingAudio();
}

void CMkvWriter::WriteVideo(const CPacket& frame)
{
    m_SawVideo = true;
    const uint8_t nFamily = VideoCodecFamily(frame.FrameGetCodec());
    if (m_Closed || m_OpenFailed || nFamily == 0) {
        ++m_Skipped;
        return;
    }
    // A file begins with a picture that decodes on its own.
    const bool bKey = frame.FrameIsKey() || nFamily == JX_CODEC_JPEG;
    if (!m_Opened) {
        if (!bKey) {
            ++m_Skipped;
            return;
        }
        const uint8_t nAudio = m_PendingCount != 0 ? m_PendingCodec : m_DescAudioCodec;
        const uint32_t nRate = m_PendingCount != 0 ? m_PendingRate : m_DescAudioRate;
        m_BaseMs = FrameTimeMs(frame);
        if (m_PendingCount != 0 && m_Pending[0].nTimeMs < m_BaseMs) m_BaseMs = m_Pending[0].nTimeMs;
        if (!OpenFile(&frame, nAudio, nRate)) return;
        if (m_Audio.pStream != nullptr) FlushPendingAudio();
    }
    // A camera that changes codec between sessions: its frames would make the
    // file unreadable, so they are counted and left out.
    if (m_Video.pStream == nullptr || nFamily != m_VideoCodec) {
        ++m_Skipped;
        return;
    }
    const float fFps = frame.FrameGetFPS();
    const int64_t nStep = fFps > 0.0f ? int64_t(double(kMsPerSecond) / double(fFps) + 0.5) : 1;
    Put(m_Video, frame.FrameGetData(), frame.FrameGetLength(), FrameTimeMs(frame), bKey, 0, nStep);
}

void CMkvWriter::WriteAudio(const CPacket& frame)
{
    const uint8_t nCodec = frame.FrameGetCodec();
    if (m_Closed || m_OpenFailed || !IsRecordedAudio(nCodec)) {
        ++m_Skipped;
        return;
    }
    if (!m_Opened) {
        // Sound waits for the first picture while one is to come: the
        // description names video, a video frame came, or too little sound
        // has come to tell (a JPEG stream's description has no video part
        // until its first picture, which may arrive after the first sound).
        PendAudio(frame);
        const bool bWait = !m_SoundOnly && (m_ExpectVideo || m_SawVideo ||
                                            (m_PendingCount != 0 &&
                                             FrameTimeMs(frame) - m_Pending[0].nTimeMs < kVideoWaitMs));
        if (!bWait) OpenPendingAudio();
        return;
    }
    const uint32_t nRate = frame.FrameGetFreq() != 0 ? frame.FrameGetFreq() : kG711Rate;
    if (m_Audio.pStream == nullptr || nCodec != m_AudioCodec || nRate != m_AudioRate) {
        ++m_Skipped;
        return;
    }
    PutAudio(frame.FrameGetData(), frame.FrameGetLength(), FrameTimeMs(frame));
}

void CMkvWriter::Close()
{
    if (m_Closed) return;
    m_Closed = true;
    // Sound that waited for a picture that never came still makes a file.
    if (!m_Opened && !m_OpenFailed) OpenPendingAudio();
    // No frame opened the file: the empty name taken for it goes.
    if (!m_Opened) remove(m_Path.c_str());
    if (m_Format == nullptr) return;
    if (m_Opened && av_write_trailer(m_Format) < 0) ++m_Errors;
    if (m_Format->pb != nullptr) {
        if (m_Format->pb->error < 0) ++m_Errors;
        if (avio_closep(&m_Format->pb) < 0) ++m_Errors;
    }
    avformat_free_context(m_Format);
    m_Format = nullptr;
    av_packet_free(&m_Packet);
}

void CMkvWriter::Fill(JXStreamSummary& summary) const
{
    if (m_Video.pStream != nullptr) summary.video.sFile = m_FileName;
    if (m_Audio.pStream != nullptr) summary.audio.sFile = m_FileName;
    summary.nSkippedFrames = m_Skipped;
    summary.nWriteErrors = m_Errors;
}
