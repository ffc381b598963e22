// JPEG pictures as RTP payload (RFC 2435): the picture's headers are read
// here and left out of the packets; the receiver rebuilds them from the
// 8-byte JPEG header (type, size in 8-pixel units) and the quantization
// tables sent in the first packet of each picture (Q = 255).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CRTPData;
class CServeTrack;
struct tag_RTPHDR;

struct JXJpegInfo {
    static constexpr int kTableBytes = 64;

    uint16_t nWidth = 0;
    uint16_t nHeight = 0;
    uint8_t nType = 0;   // 0: 4:2:2, 1: 4:2:0
    uint8_t luma[kTableBytes] = {};     // quantization tables, zigzag order as in DQT
    uint8_t chroma[kTableBytes] = {};
    size_t nScanOffset = 0;     // entropy-coded data, from the picture's start
    size_t nScanLength = 0;     // up to the end-of-image marker, excluded
    size_t nPictureLength = 0;  // through the end-of-image marker
};

// Read the picture at p (at most n bytes; more pictures may follow). 0, or
// JX_ERR_CONTENT (malformed or truncated) / JX_ERR_UNSUPPORTED (a picture
// this payload cannot carry: not baseline, not 3 components with 4:2:2 or
// 4:2:0 sampling, 16-bit tables, Huffman tables other than the standard
// ones, a scan not using tables 0 for luminance and 1 for chrominance,
// restart intervals, a size not a multiple of 8 or above 2040) with the
// reason in sWhy.
int32_t JXJpegParse(const uint8_t* p, size_t n, JXJpegInfo& info, std::string& sWhy);

// Append the picture's packets to track (each at most CServeTrack::kMaxPayload
// bytes of payload). The caller closes the frame. 0 or CRTPData's error.
int32_t JXJpegPacketize(const JXJpegInfo& info, const uint8_t* pPicture, CRTPData& rtp, tag_RTPHDR& hdr,
                        CServeTrack& track);
