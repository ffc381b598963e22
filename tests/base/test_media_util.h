// Helpers of the media tests: the recorded parameter sets and a bit writer that
// builds parameter sets field by field.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A file of tests/data/media; empty when it cannot be read.
inline Bytes LoadMedia(const std::string& name)
{
    Bytes out;
    std::string path = std::string(JX_TEST_DATA_DIR) + "/media/" + name;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return out;
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
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
            starts.push_back(i + 3);
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
        if (nal.empty())
            continue;
        int t = bH265 ? (nal[0] >> 1) & 0x3F : nal[0] & 0x1F;
        if (t == nType)
            return nal;
    }
    return Bytes();
}

// Writes fields most significant bit first; Payload() ends the RBSP (stop bit,
// zero bits to the byte boundary) and inserts emulation prevention bytes.
class CBitWriter {
public:
    void Bits(int n, uint64_t v)
    {
        for (int i = n - 1; i >= 0; --i)
            Bit(static_cast<int>((v >> i) & 1u));
    }
    void Bit(int b)
    {
        if (m_Used == 0)
            m_Raw.push_back(0);
        if (b)
            m_Raw.back() |= static_cast<uint8_t>(0x80u >> m_Used);
        m_Used = (m_Used + 1) & 7;
    }
    // ue(v) for any value up to 2^32 - 2.
    void UE(uint64_t v)
    {
        uint64_t x = v + 1;
        int nBits = 0;
        while ((x >> nBits) > 1)
            ++nBits;
        Bits(nBits, 0);
        Bits(nBits + 1, x);
    }
    void SE(int64_t v) { UE(v > 0 ? static_cast<uint64_t>(2 * v - 1) : static_cast<uint64_t>(-2 * v)); }

    Bytes Payload() const
    {
        CBitWriter copy = *this;
        copy.Bit(1);
        while (copy.m_Used != 0)
            copy.Bit(0);
        Bytes out;
        int zeros = 0;
        for (uint8_t b : copy.m_Raw) {
            if (zeros >= 2 && b <= 3) {
                out.push_back(3);
                zeros = 0;
            }
            out.push_back(b);
            zeros = (b == 0) ? zeros + 1 : 0;
        }
        return out;
    }

private:
    Bytes m_Raw;
    int m_Used = 0;
};
