#include "rtp_harness.h"

#include "rtpparser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

// Milliseconds of a frame's stamp on a line without days' breaks.
int64_t StampMs(const YRTIME& t)
{
    // Days from 1970-01-01 of a Gregorian date (the civil-from-days inverse).
    const int64_t y = t.wYear - (t.wMonth <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (t.wMonth + (t.wMonth > 2 ? -3 : 9)) + 2) / 5 + t.wDay - 1;
    const int64_t days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    return ((days * 24 + t.wHour) * 60 + t.wMinute) * 60000 + t.wSecond * 1000 + t.wMilliseconds;
}

// The RTP timestamp an audio frame was stamped from.
struct CStampPeek : CRTPMediaAudio {
    static uint32_t Of(const CRTPMediaAudio& media) { return media.*(&CStampPeek::m_FrameTimeStamp); }
};

}   // namespace

CFrameSink::~CFrameSink()
{
    for (CPacket* p : m_Held)
        p->Release();
}

int CFrameSink::OnRecvFrame(CPacket* p)
{
    const uint8_t* pData = p->FrameGetData();
    const uint32_t n = p->FrameGetLength();
    CSunkFrame f;
    f.m_Data.assign(pData, pData + n);
    if (dynamic_cast<CRTPMediaVideo*>(m_Media) != nullptr) {
        f.m_ZeroTail = std::all_of(pData + n, pData + n + CRTPMediaVideo::kZeroTail, [](uint8_t c) { return c == 0; });
    }
    f.m_Type = p->FrameGetType();
    f.m_Codec = p->FrameGetCodec();
    f.m_Width = p->FrameGetWidth();
    f.m_Height = p->FrameGetHeight();
    f.m_FPS = p->FrameGetFPS();
    f.m_Freq = p->FrameGetFreq();
    f.m_Refs = p->GetRefCount();
    f.m_Ms = StampMs(p->FrameGetTime());
    if (const auto* pAudio = dynamic_cast<const CRTPMediaAudio*>(m_Media)) f.m_RTPTime = CStampPeek::Of(*pAudio);
    m_Frames.push_back(std::move(f));
    if (m_Hold) {
        p->AddRef();
        m_Held.push_back(p);
    }
    return 0;
}

int CFrameSink::Feed(const Bytes& packet)
{
    CRTPParser rtp;
    const Bytes copy(packet);
    int nResult = rtp.Setup(copy.data(), static_cast<uint32_t>(copy.size()));
    if (nResult == JX_OK) nResult = m_Media->Receive(rtp);
    EXPECT_EQ(m_Media->CheckInvariants(), JX_OK);
    return nResult;
}

void CFrameSink::FeedAll(const std::vector<Bytes>& packets)
{
    for (const Bytes& p : packets)
        Feed(p);
}

std::vector<Bytes> ApplyLosses(const std::vector<Bytes>& packets, const std::vector<CLoss>& losses)
{
    constexpr size_t kSSRCByte = 11, kTimestamp = 4, kTimestampEnd = 8;
    std::vector<Bytes> out;
    for (size_t i = 0; i < packets.size(); ++i) {
        const auto it = std::find_if(losses.begin(), losses.end(), [i](const CLoss& l) { return l.m_At == i; });
        Bytes p = packets[i];
        if (it == losses.end()) {
            out.push_back(p);
            continue;
        }
        switch (it->m_Op) {
        case CLoss::kDrop:
            break;
        case CLoss::kDuplicate:
            out.insert(out.end(), {p, p});
            break;
        case CLoss::kSwapWithNext:
            out.insert(out.end(), {packets[++i], p});
            break;
        case CLoss::kCut:
            p.resize(it->m_Keep >= 0 ? size_t(it->m_Keep) : p.size() - size_t(-it->m_Keep));
            out.push_back(p);
            break;
        case CLoss::kStraySSRC:
            p[kSSRCByte] ^= 0x5A;
            out.push_back(p);
            break;
        case CLoss::kTimestampOfPrevious:
            std::copy(&packets[i - 1][kTimestamp], &packets[i - 1][kTimestampEnd], &p[kTimestamp]);
            out.push_back(p);
            break;
        }
    }
    return out;
}

std::vector<std::string> Words(const std::string& text, char cSep)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; std::getline(in, w, cSep);) {
        if (cSep == ' ') {
            std::istringstream blanks(w);
            for (std::string v; blanks >> v;)
                words.push_back(v);
        } else if (!w.empty()) {
            words.push_back(w);
        }
    }
    return words;
}

bool BuilderToken(const std::string& token, CTestRTP& b, uint32_t nStep, int64_t* pStep)
{
    if (token[0] == '|') {
        const int64_t n = token.size() > 1 ? strtol(token.c_str() + 1, nullptr, 10) : nStep;
        b.m_TS += static_cast<uint32_t>(n);
        if (pStep != nullptr) *pStep = n;
        return true;
    }
    if (token == "-") {
        ++b.m_Seq;
        return true;
    }
    const size_t nEq = token.find('=');
    if (nEq == std::string::npos) return false;
    const std::string key = token.substr(0, nEq);
    const uint32_t n = static_cast<uint32_t>(strtoul(token.c_str() + nEq + 1, nullptr, 0));
    if (key == "seq") b.m_Seq = static_cast<uint16_t>(n);
    else if (key == "ssrc") b.m_SSRC = n;
    else if (key == "pt") b.m_PT = static_cast<uint8_t>(n);
    else if (key == "ts") b.m_TS = n;
    else if (key == "jump") b.m_TS += n;
    else return false;
    return true;
}

int32_t TakeResultMark(std::string& token)
{
    static const std::string kMarks = "!?~#";
    static const int32_t kResults[] = {JX_ERR_CONTENT, JX_ERR_ARG, JX_ERR_FAIL, JX_ERR_UNSUPPORTED};
    const size_t nMark = token.size() > 1 ? kMarks.find(token.back()) : std::string::npos;
    if (nMark == std::string::npos) return JX_OK;
    token.pop_back();
    return kResults[nMark];
}
