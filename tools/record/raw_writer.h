// Where a recorded stream's frames go. WriteVideo and WriteAudio run on the
// module's worker thread for every frame, so a writer only writes through
// stdio buffers and waits on nothing but its files; Close runs on the host's
// thread once the stream has stopped.
#pragma once

#include "aac_adts.h"
#include "summary_json.h"

#include <cstdio>
#include <memory>
#include <string>

class CPacket;
struct JXAudioDesc;
struct JXVideoDesc;

class CMediaWriter {
public:
    virtual ~CMediaWriter() = default;
    // The session's description, once, before the first frame (either part
    // may be null): a writer that holds both media in one file learns from it
    // whether to wait for the other kind.
    virtual void SetMediaDesc(const JXVideoDesc* pVideo, const JXAudioDesc* pAudio)
    {
        (void)pVideo;
        (void)pAudio;
    }
    // The stream has shown itself to be sound only: a writer that waits for
    // a picture before it opens its file need not.
    virtual void SetSoundOnly() {}
    virtual void WriteVideo(const CPacket& frame) = 0;
    virtual void WriteAudio(const CPacket& frame) = 0;
    // Completes every file (headers, buffers); the writer takes no more frames.
    virtual void Close() = 0;
    // File names, skipped frames and write errors into the summary.
    virtual void Fill(JXStreamSummary& summary) const = 0;
};

// Elementary files: video.h264 or video.h265 (Annex B as delivered),
// video.mjpeg (pictures one after another), audio.wav (G.711) or audio.aac
// (each AAC access unit behind an ADTS header made from the description's
// AudioSpecificConfig). Files are opened at the first frame of their kind, so
// a stream that sends nothing leaves no empty files.
class CRawWriter : public CMediaWriter {
public:
    explicit CRawWriter(const std::string& sDir);
    ~CRawWriter() override;
    void SetMediaDesc(const JXVideoDesc* pVideo, const JXAudioDesc* pAudio) override;
    void WriteVideo(const CPacket& frame) override;
    void WriteAudio(const CPacket& frame) override;
    void Close() override;
    void Fill(JXStreamSummary& summary) const override;

private:
    // A file with a stdio buffer of our own size (the C library would pick a
    // small one when given none).
    FILE* OpenFile(const std::string& sName, std::unique_ptr<char[]>& pBuffer);
    void Put(FILE* pFile, const void* pData, size_t nBytes);
    void CloseWav();
    // The first audio frame opens its file: WAVE with G.711, ADTS with AAC.
    void OpenAudio(const CPacket& frame);
    void PutAac(const CPacket& frame);

    std::string m_Dir;
    FILE* m_Video = nullptr;
    FILE* m_Audio = nullptr;
    std::unique_ptr<char[]> m_VideoBuffer;
    std::unique_ptr<char[]> m_AudioBuffer;
    std::string m_VideoName;
    std::string m_AudioName;
    uint8_t m_VideoCodec = 0;   // codec family of the open video file (JX_CODEC_*)
    uint8_t m_AudioCodec = 0;
    uint32_t m_AudioRate = 0;
    uint64_t m_AudioData = 0;   // sample bytes in audio.wav
    bool m_HasAdts = false;     // the description's AAC config fits ADTS headers
    JXAdtsFormat m_Adts;
    uint64_t m_Skipped = 0;
    uint64_t m_Errors = 0;
};

// The first JPEG picture of a stream, on its own in the stream's folder.
const char kFirstJpegName[] = "first.jpg";
// A frame's bytes as a file of its own; the write errors met (0 to 2).
uint32_t WriteFrameFile(const std::string& sPath, const CPacket& frame);

// JX_CODEC_H264, JX_CODEC_H265 or JX_CODEC_JPEG for a frame's codec code
// (a stream's private codes 16..31 are H.264, 32..47 H.265); 0 for others.
uint8_t VideoCodecFamily(uint8_t nCodec);
const char* CodecName(uint8_t nFamily);
