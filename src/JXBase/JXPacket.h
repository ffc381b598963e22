// Reference-counted media packet. A frame packet keeps its header fields
// (type, codec, length, rate, time, size) beside a payload area; buffers are
// recycled through per-size free lists, so steady delivery does not call the
// allocator for every frame.
#pragma once

#include "JXObject.h"

#include <atomic>

struct timeval;

enum : uint8_t {
    JX_FRAME_VIDEO = 0,   // video, not a key frame
    JX_FRAME_VIDEO_KEY = 1,
    JX_FRAME_AUDIO = 3,
    JX_FRAME_JPEG = 4,       // one JPEG picture (decodable on its own)
    JX_FRAME_MARK_VI = 9,    // video frame marked as VI through the RTP header extension
    JX_FRAME_MARK_PB = 10,   // video frame marked as PB through the RTP header extension
};
enum : uint8_t {
    JX_CODEC_H264 = 1,
    JX_CODEC_H265 = 2,
    JX_CODEC_JPEG = 3,
    JX_CODEC_PCMA = 4,
    JX_CODEC_PCMU = 5,
    JX_CODEC_AAC = 6,   // MPEG-4 AAC access units; the description carries the AudioSpecificConfig
};

class JXBASE_API CPacket : public CJXObject {
public:
    // Bytes of every Acquire size taken by the frame header; the payload area
    // behind it (FrameGetData) holds size - kFrameHead bytes.
    static constexpr int32_t kFrameHead = 20;

    // One reference to a packet of at least nSize bytes; null on failure or a
    // size below kFrameHead or above 64 MiB. nFlags: unused, kept for the contract.
    static CPacket* Acquire(int32_t nSize, int32_t nFlags = 0);
    void AddRef();
    // Drop one reference; at 0 the packet returns to its free list. The new count.
    int32_t Release();
    int32_t GetRefCount() const;

    // Clear every frame field; the payload starts at the payload area's first byte.
    void FrameInit();
    // The payload starts nBytes into the payload area: a producer that wrote a
    // frame behind room it kept free puts what leads the frame into that room
    // and starts the payload there, so the frame is never moved. false (nothing
    // changed) when nBytes lies outside the payload area.
    bool FrameSetOffset(int32_t nBytes);
    void FrameSetType(uint8_t nType) { m_Type = nType; }
    void FrameSetCodec(uint8_t nCodec) { m_Codec = nCodec; }
    // Payload bytes (clamped to the payload area).
    void FrameSetLength(uint32_t nLength);
    void FrameSetFPS(float fFPS) { m_FPS = fFPS; }
    void FrameSetFreq(uint32_t nHz) { m_Freq = nHz; }
    void FrameSetTime(const YRTIME& t, uint16_t nMS);
    void FrameSetTime(const struct timeval& tv);
    void FrameSetWidth(uint16_t n) { m_Width = n; }
    void FrameSetHeight(uint16_t n) { m_Height = n; }

    uint8_t* FrameGetData() { return m_Buffer + kFrameHead + m_Offset; }
    const uint8_t* FrameGetData() const { return m_Buffer + kFrameHead + m_Offset; }
    // Payload bytes from FrameGetData to the end of the buffer.
    int32_t FrameGetCapacity() const { return m_Capacity - kFrameHead - m_Offset; }
    uint8_t FrameGetType() const { return m_Type; }
    uint8_t FrameGetCodec() const { return m_Codec; }
    uint32_t FrameGetLength() const { return m_Length; }
    float FrameGetFPS() const { return m_FPS; }
    uint32_t FrameGetFreq() const { return m_Freq; }
    const YRTIME& FrameGetTime() const { return m_Time; }
    uint16_t FrameGetWidth() const { return m_Width; }
    uint16_t FrameGetHeight() const { return m_Height; }

    bool FrameIsVideo() const;   // types 0, 1, 4, 9, 10
    bool FrameIsAudio() const;   // type 3
    bool FrameIsKey() const;     // types 1, 4 and 9

    // Free-list statistics, for tests: buffers allocated over the process life.
    static uint64_t GetAllocCount();

private:
    CPacket() = default;
    ~CPacket() override;
    friend class CPacketPool;

    uint8_t* m_Buffer = nullptr;
    int32_t m_Capacity = 0;
    int32_t m_SizeClass = -1;
    int32_t m_Offset = 0;   // where the payload starts in the payload area (FrameSetOffset)
    std::atomic<int32_t> m_RefCount{0};
    CPacket* m_Next = nullptr;   // free-list link

    uint8_t m_Type = 0;
    uint8_t m_Codec = 0;
    uint16_t m_Width = 0;
    uint16_t m_Height = 0;
    uint32_t m_Length = 0;
    float m_FPS = 0.0f;
    uint32_t m_Freq = 0;
    YRTIME m_Time{};
};
