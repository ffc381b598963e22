// Helpers of the media tests: the recorded streams and the NAL units in them.
#pragma once

#include "rtp_capture.h"

#include <string>

// A file of tests/data/media; empty when it cannot be read.
inline Bytes LoadMedia(const std::string& name)
{
    return LoadDataFile("media/" + name);
}

// The first NAL unit whose type (H.264: low five bits of byte 0; H.265: bits
// 1..6 of byte 0) is nType, or an empty one.
inline Bytes FindNal(const Bytes& stream, bool bH265, int nType)
{
    for (const Bytes& nal : SplitNals(stream)) {
        if (nal.empty()) continue;
        int t = bH265 ? (nal[0] >> 1) & 0x3F : nal[0] & 0x1F;
        if (t == nType) return nal;
    }
    return Bytes();
}
