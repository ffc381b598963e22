// RTP test helpers.
#include "test_rtp.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

Bytes ToBytes(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

Bytes HexBytes(std::string_view hex)
{
    Bytes out;
    std::string digits;
    for (char c : hex)
        if (isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const uint8_t* p, size_t n)
{
    std::string out;
    char sz[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(sz, sizeof(sz), i + 1 < n ? "%02x " : "%02x", p[i]);
        out += sz;
    }
    return out;
}

std::vector<Bytes> SplitNals(const Bytes& data)
{
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= data.size(); ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) starts.push_back(i + 3);
    }
    std::vector<Bytes> nals;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : data.size();
        while (end > starts[k] && data[end - 1] == 0)
            --end;
        nals.emplace_back(data.begin() + long(starts[k]), data.begin() + long(end));
    }
    return nals;
}

Bytes CTestRTP::Build(const uint8_t* pPayload, size_t nPayload, bool bMark) const
{
    constexpr uint8_t kVersion2 = 0x80;
    Bytes out = {kVersion2, static_cast<uint8_t>((bMark ? 0x80 : 0) | (m_PT & 0x7F)), static_cast<uint8_t>(m_Seq >> 8),
                 static_cast<uint8_t>(m_Seq)};
    for (uint32_t n : {m_TS, m_SSRC}) {
        for (int nShift = 24; nShift >= 0; nShift -= 8)
            out.push_back(static_cast<uint8_t>(n >> nShift));
    }
    if (nPayload > 0) out.insert(out.end(), pPayload, pPayload + nPayload);
    return out;
}

Bytes CTestRTP::Next(const uint8_t* pPayload, size_t nPayload, bool bMark)
{
    Bytes out = Build(pPayload, nPayload, bMark);
    ++m_Seq;
    return out;
}

CRTPLogCapture::CRTPLogCapture()
{
    JXSetLogSink(&CRTPLogCapture::OnLine, this);
}

CRTPLogCapture::~CRTPLogCapture()
{
    JXSetLogSink(nullptr, nullptr);
}

void CRTPLogCapture::OnLine(const char* pLine, void* pUser)
{
    auto* pSelf = static_cast<CRTPLogCapture*>(pUser);
    // Drop the time stamp: "YYYY-MM-DD HH:MM:SS.mmm ".
    const char* pText = pLine;
    for (int nSpaces = 0; nSpaces < 2 && *pText != '\0'; ++pText)
        nSpaces += *pText == ' ' ? 1 : 0;
    std::lock_guard<std::mutex> lock(pSelf->m_Mutex);
    pSelf->m_Lines.emplace_back(pText);
}

int CRTPLogCapture::Count(std::string_view line) const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return static_cast<int>(std::count(m_Lines.begin(), m_Lines.end(), line));
}

int CRTPLogCapture::CountContaining(std::string_view piece) const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return static_cast<int>(std::count_if(m_Lines.begin(), m_Lines.end(),
                                          [&](const std::string& s) { return s.find(piece) != std::string::npos; }));
}

std::vector<std::string> CRTPLogCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Lines;
}
