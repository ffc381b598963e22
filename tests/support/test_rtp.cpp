// RTP test helpers.
#include "test_rtp.h"

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
    int nHigh = -1;
    for (char c : hex) {
        if (!isxdigit(static_cast<unsigned char>(c))) {
            continue;
        }
        int nDigit = isdigit(static_cast<unsigned char>(c)) ? c - '0' : (tolower(c) - 'a' + 10);
        if (nHigh < 0) {
            nHigh = nDigit;
        } else {
            out.push_back(static_cast<uint8_t>((nHigh << 4) | nDigit));
            nHigh = -1;
        }
    }
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

// ---------------------------------------------------------------------------

namespace {
void PutBE16(Bytes& out, uint32_t n)
{
    out.push_back(static_cast<uint8_t>(n >> 8));
    out.push_back(static_cast<uint8_t>(n));
}

void PutBE32(Bytes& out, uint32_t n)
{
    PutBE16(out, n >> 16);
    PutBE16(out, n & 0xFFFF);
}
}   // namespace

Bytes CTestRTP::Build(const uint8_t* pPayload, size_t nPayload, bool bMark) const
{
    constexpr uint8_t kVersion2 = 0x80;
    Bytes out;
    out.reserve(12 + nPayload);
    out.push_back(kVersion2);
    out.push_back(static_cast<uint8_t>((bMark ? 0x80 : 0) | (m_PT & 0x7F)));
    PutBE16(out, m_Seq);
    PutBE32(out, m_TS);
    PutBE32(out, m_SSRC);
    if (nPayload > 0) {
        out.insert(out.end(), pPayload, pPayload + nPayload);
    }
    return out;
}

Bytes CTestRTP::Next(const uint8_t* pPayload, size_t nPayload, bool bMark)
{
    Bytes out = Build(pPayload, nPayload, bMark);
    ++m_Seq;
    return out;
}

// ---------------------------------------------------------------------------

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
    for (int nSpaces = 0; nSpaces < 2 && *pText != '\0'; ++pText) {
        if (*pText == ' ') {
            ++nSpaces;
        }
    }
    std::lock_guard<std::mutex> lock(pSelf->m_Mutex);
    pSelf->m_Lines.emplace_back(pText);
}

int CRTPLogCapture::Count(std::string_view line) const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    int n = 0;
    for (const auto& s : m_Lines) {
        n += s == line ? 1 : 0;
    }
    return n;
}

int CRTPLogCapture::CountContaining(std::string_view piece) const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    int n = 0;
    for (const auto& s : m_Lines) {
        n += s.find(piece) != std::string::npos ? 1 : 0;
    }
    return n;
}

std::vector<std::string> CRTPLogCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Lines;
}
