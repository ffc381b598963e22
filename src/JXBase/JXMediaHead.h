// Parameter-set heads of a video stream: they collect the parameter sets,
// know the picture size from them, and write them in front of key frames.
#pragma once

#include "JXObject.h"

class JXBASE_API CJXMediaHead : public CJXObject {
public:
    CJXMediaHead() = default;
    ~CJXMediaHead() override = default;
    CJXMediaHead(const CJXMediaHead&) = delete;
    CJXMediaHead& operator=(const CJXMediaHead&) = delete;

    // Ends the head (deletes it).
    virtual void Release();
    // JX_CODEC_* of the stream.
    virtual int32_t GetCodec() const = 0;
    // Take one parameter set: the NAL header (one byte for H.264, two bytes
    // big-endian for H.265), the bytes after the header and their count.
    // 0 when taken; negative when refused (unknown type, empty, too long, a
    // set that cannot be parsed).
    virtual int32_t SetNAL(uint16_t nHeader, const uint8_t* pData, int32_t nLen) = 0;
    // Write the stored parameter sets, each behind 00 00 00 01, at pOut, leaving
    // out the kinds that came in-band in this frame (nFlags bits 0x0100 SPS,
    // 0x0200 PPS, 0x0400 VPS). Returns the bytes written (0: nothing).
    virtual int32_t WriteHead(uint8_t* pOut, uint16_t nFlags) = 0;
    // Exactly what WriteHead writes for the same flags.
    virtual int32_t GetHeadSize(uint16_t nFlags) = 0;
    // True once width and height are known.
    virtual bool IsReady() = 0;

protected:
    // One stored parameter set as WriteHead puts it: 00 00 00 01 and the set,
    // or nothing when the set is absent or nFlag is among the frame's nFlags
    // (it came in-band). SetBytes counts exactly what PutSet writes.
    static int32_t SetBytes(uint16_t nFlags, uint16_t nFlag, int32_t nLen);
    static int32_t PutSet(uint8_t* pOut, uint16_t nFlags, uint16_t nFlag, const uint8_t* pSet, int32_t nLen);
};

class JXBASE_API CJXVideoHead : public CJXMediaHead {
public:
    uint16_t m_Width = 0;
    uint16_t m_Height = 0;
    float m_FPS = 0.0f;   // from the stream's timing information, 0 when absent
};

// In-band NAL flag bits of a frame, shared with the depacketizers.
enum : uint16_t {
    JX_NAL_FLAG_SPS = 0x0100,
    JX_NAL_FLAG_PPS = 0x0200,
    JX_NAL_FLAG_VPS = 0x0400,
};
