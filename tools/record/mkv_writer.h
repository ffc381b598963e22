// One Matroska file of a recorded stream: video (H.264 or H.265 as Annex B access
// units, or JPEG pictures) and G.711 or AAC audio (A_AAC, its
// AudioSpecificConfig as the track's codec data), muxed by libavformat. Built only
// when the libav development packages are found (JX_HAVE_LIBAV).
#pragma once

#include "JXMediaDesc.h"
#include "aac_adts.h"
#include "raw_writer.h"

#include <cstdint>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVPacket;
struct AVStream;

class CMkvWriter : public CMediaWriter {
public:
    // sPath: the file, made empty already (removed at Close when no frame
    // came to open it); nStartUtcMs: its wall-clock start, written as the
    // file's date.
    CMkvWriter(const std::string& sPath, int64_t nStartUtcMs);
    ~CMkvWriter() override;
    void SetMediaDesc(const JXVideoDesc* pVideo, const JXAudioDesc* pAudio) override;
    void SetSoundOnly() override { m_SoundOnly = true; }
    void WriteVideo(const CPacket& frame) override;
    void WriteAudio(const CPacket& frame) override;
    void Close() override;
    void Fill(JXStreamSummary& summary) const override;

private:
    // Audio that came before the first video key frame, kept until the file
    // opens so the recording does not lose its first second of sound.
    struct JXPendingAudio {
        uint32_t nOffset;
        uint32_t nLength;
        int64_t nTimeMs;
    };

    // One stream of the file and where its time stands.
    struct JXTrack {
        AVStream* pStream = nullptr;
        int64_t nLastMs = -1;   // last timestamp written
        int64_t nShiftMs = 0;   // added after the clock stepped back
    };

    bool OpenFile(const CPacket* pKeyFrame, uint8_t nAudioCodec, uint32_t nAudioRate);
    void FailOpen();
    // G.711, or AAC when the description gave its config.
    bool IsRecordedAudio(uint8_t nCodec) const;
    void PendAudio(const CPacket& frame);
    void FlushPendingAudio();
    // Opens a sound-only file with the pending audio, when there is some.
    void OpenPendingAudio();
    // Writes one frame at its time relative to the file's start; nStepMs is
    // the stream's usual interval between frames.
    void Put(JXTrack& track, const uint8_t* pData, uint32_t nLength, int64_t nTimeMs, bool bKey, int64_t nDurationMs,
             int64_t nStepMs);
    // G.711 samples taken from nTimeMs on, none before the file's start; an
    // AAC unit whole, when it does not begin before the start.
    void PutAudio(const uint8_t* pData, uint32_t nLength, int64_t nTimeMs);

    std::string m_Path;
    std::string m_FileName;   // the last part of m_Path
    int64_t m_StartUtcMs;
    AVFormatContext* m_Format = nullptr;
    AVPacket* m_Packet = nullptr;
    JXTrack m_Video;
    JXTrack m_Audio;
    bool m_Opened = false;       // header written
    bool m_OpenFailed = false;   // no file: every frame is counted as skipped
    bool m_Closed = false;
    bool m_SawVideo = false;   // a video frame came, key or not
    bool m_SoundOnly = false;  // no picture to wait for

    // What the session description promised (set before the first frame).
    bool m_ExpectVideo = true;
    uint16_t m_DescWidth = 0;   // when a key frame tells no size
    uint16_t m_DescHeight = 0;
    uint8_t m_DescAudioCodec = 0;
    uint32_t m_DescAudioRate = 0;
    uint16_t m_DescChannels = 1;
    uint8_t m_DescConfig[JX_AUDIO_CONFIG_BYTES] = {};   // AAC: the AudioSpecificConfig
    uint16_t m_DescConfigLen = 0;
    JXAdtsFormat m_Aac;   // what the config tells of each unit's length

    uint8_t m_VideoCodec = 0;   // codec family in the file (JX_CODEC_*)
    uint8_t m_AudioCodec = 0;
    uint32_t m_AudioRate = 0;
    int64_t m_BaseMs = 0;   // frame time of the file's 0, the same for both tracks

    std::unique_ptr<uint8_t[]> m_PendingBytes;
    std::unique_ptr<JXPendingAudio[]> m_Pending;
    uint32_t m_PendingCount = 0;
    uint32_t m_PendingUsed = 0;   // bytes in m_PendingBytes
    uint8_t m_PendingCodec = 0;
    uint32_t m_PendingRate = 0;

    uint64_t m_Skipped = 0;
    uint64_t m_Errors = 0;
};
