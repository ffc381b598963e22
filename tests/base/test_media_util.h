// Helpers of the media tests: the recorded streams and the NAL units in them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<uint8_t>;

// "64 00 28" from spaced or unspaced hex digits (the shared test support has it).
Bytes HexBytes(std::string_view hex);

// A file of tests/data/media; empty when it cannot be read.
inline Bytes LoadMedia(const std::string& name)
{
    Bytes out;
    std::string path = std::string(JX_TEST_DATA_DIR) + "/media/" + name;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
        out.insert(out.end(), buf, buf + n);
    fclose(f);
    return out;
}

// The NAL units of an Annex B stream, start codes removed.
inline std::vector<Bytes> SplitNals(const Bytes& data)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) starts.push_back(i + 3);
    }
    std::vector<Bytes> nals;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = (k + 1 < starts.size()) ? starts[k + 1] - 3 : data.size();
        while (end > starts[k] && data[end - 1] == 0)
            --end;
        nals.emplace_back(data.begin() + static_cast<long>(starts[k]), data.begin() + static_cast<long>(end));
    }
    return nals;
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
