// AAC audio depacketizers: MPEG-4 generic (RFC 3640) and MP4A-LATM (RFC 6416).
#include "rtpaac.h"

#include "rtpbits.h"
#include "rtpparser.h"

#include <cstring>

namespace {

constexpr uint32_t kMaxSubFrames = 64;   // numSubFrames is 6 bits, plus one
constexpr uint32_t kStreamTypeAudio = 5;
constexpr uint8_t kLengthContinues = 0xFF;   // a PayloadLengthInfo byte that another follows

// One "key=value" parameter of an a=fmtp: line.
struct CParam {
    const char* m_Key;
    int32_t m_KeyLen;
    const char* m_Value;
    int32_t m_ValueLen;

    bool Is(const char* pKey) const { return CJXString::EqualNoCase(m_Key, m_KeyLen, pKey); }
    bool ValueIs(const char* pWord) const { return CJXString::EqualNoCase(m_Value, m_ValueLen, pWord); }
    // A decimal value of at most nMax; false for anything else.
    bool Number(uint32_t nMax, uint32_t& nOut) const
    {
        if (m_ValueLen == 0) return false;
        uint64_t n = 0;
        for (int32_t i = 0; i < m_ValueLen; ++i) {
            if (m_Value[i] < '0' || m_Value[i] > '9') return false;
            n = n * 10 + static_cast<uint32_t>(m_Value[i] - '0');
            if (n > nMax) return false;
        }
        nOut = static_cast<uint32_t>(n);
        return true;
    }
    // Hex digits in pairs into at most nCap bytes; the bytes, or -1.
    int32_t Hex(uint8_t* pOut, int32_t nCap) const
    {
        if (m_ValueLen == 0 || (m_ValueLen & 1) != 0 || m_ValueLen > 2 * nCap) return -1;
        for (int32_t i = 0; i < m_ValueLen; ++i) {
            const char c = CJXString::LowerAscii(m_Value[i]);
            const int nDigit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
            if (nDigit < 0) return -1;
            if ((i & 1) == 0) pOut[i / 2] = static_cast<uint8_t>(nDigit << 4);
            else pOut[i / 2] = static_cast<uint8_t>(pOut[i / 2] | nDigit);
        }
        return m_ValueLen / 2;
    }
};

// The next parameter of an a=fmtp: parameter list ("a=1; b=2;c"), blanks
// around keys and values left out (a line end left on the text too). False
// at the end of the text.
bool NextParam(const char*& p, CParam& out)
{
    while (CJXString::IsBlank(*p) || *p == ';') ++p;
    if (*p == '\0') return false;
    const char* pEnd = p + strcspn(p, ";");
    const char* pEq = static_cast<const char*>(memchr(p, '=', static_cast<size_t>(pEnd - p)));
    const char* pKeyEnd = pEq != nullptr ? pEq : pEnd;
    const char* pValue = pEq != nullptr ? pEq + 1 : pEnd;
    while (pValue < pEnd && CJXString::IsBlank(*pValue)) ++pValue;
    const char* pValueEnd = pEnd;
    while (pKeyEnd > p && CJXString::IsBlank(pKeyEnd[-1])) --pKeyEnd;
    while (pValueEnd > pValue && CJXString::IsBlank(pValueEnd[-1])) --pValueEnd;
    out = CParam{p, static_cast<int32_t>(pKeyEnd - p), pValue, static_cast<int32_t>(pValueEnd - pValue)};
    p = pEnd;
    return true;
}

}   // namespace

// ---------------------------------------------------------------------------
// CRTPAACMedia

CRTPAACMedia::CRTPAACMedia(CRTPSocket* pSocket) : CRTPMediaAudio(pSocket) {}

CRTPAACMedia::~CRTPAACMedia() = default;

int CRTPAACMedia::GetHead(CJXMediaDesc* pDesc)
{
    if (pDesc == nullptr) return JX_ERR_ARG;
    if (!m_Ready) return JX_ERR_STATE;
    const int32_t nResult = pDesc->SetupAudio(JX_CODEC_AAC, m_Config.m_Channels, m_Config.m_SampleRate);
    return nResult != JX_OK ? nResult : pDesc->SetAudioConfig(m_Config.m_Bytes, m_Config.m_Length);
}

int32_t CRTPAACMedia::UseConfig(int32_t nResult, const char* pWhat)
{
    m_Ready = nResult == JX_OK;
    DropFragment(false);
    if (!m_Ready) {
        JXPrintf("AAC: %s: %s; the stream's audio is not delivered\n", pWhat,
                 nResult == JX_ERR_UNSUPPORTED ? "not supported" : "malformed");
    }
    return nResult;
}

// Packets of one timestamp belong to one access unit (RFC 3640 3.2.3, RFC
// 6416 2.1): a loss among them loses that unit, and its remaining packets
// must not be read as the start of another.
int CRTPAACMedia::OnRecvRTP(CRTPParser& rtp)
{
    if (!m_Ready) {
        if (!m_NotReadyLogged) {
            m_NotReadyLogged = true;
            JXPrintf("AAC: packets dropped: the stream has no usable config\n");
        }
        return JX_ERR_STATE;
    }
    uint16_t nPrevSeq = 0;
    const EPacketOrder nOrder = TrackPacket(rtp, nPrevSeq);
    if (nOrder == kOrderForeign || nOrder == kOrderBadSSRC) {
        // Not this stream's: what it gathered goes on with its next packet.
        return JX_ERR_CONTENT;
    }
    if (nOrder == kOrderInSequence || nOrder == kOrderGap) {
        if (nOrder == kOrderGap && rtp.m_SeqNo == nPrevSeq) {
            return JX_ERR_CONTENT;   // a duplicate: its units may have gone out already
        }
        if (m_SkipTimeStamp) {
            m_SkipTimeStamp = rtp.m_Marker == 0;   // the marked packet ends the dropped unit
            return JX_ERR_CONTENT;
        }
        if (nOrder == kOrderGap && m_FragmentOpen) {
            DropFragment(rtp.m_Marker == 0);
            return JX_ERR_CONTENT;
        }
        return TakePayload(rtp, m_FragmentOpen ? kContinues : kStartsNew);
    }
    // A new timestamp (or a new source): whatever was gathered has ended.
    m_SkipTimeStamp = false;
    if (m_FragmentOpen && !CloseFragment()) {
        DropFragment(false);
    }
    return TakePayload(rtp, kStartsNew);
}

void CRTPAACMedia::DropFragment(bool bSkipRest)
{
    if (m_FragmentOpen) {
        ++m_FramesDropped;
    }
    m_FragmentOpen = false;
    m_SkipTimeStamp = bSkipRest;
    EmptyFragment();
    m_Buffer.Empty();
}

void CRTPAACMedia::CloseDelivered()
{
    m_FragmentOpen = false;
    EmptyFragment();
    m_Buffer.Empty();
}

int32_t CRTPAACMedia::Refuse(const char* pWhy, bool bCount)
{
    if (bCount) {
        ++m_FramesDropped;
    }
    if (!m_RefusalLogged) {
        m_RefusalLogged = true;
        JXPrintf("AAC: packet dropped: %s (logged once a stream)\n", pWhy);
    }
    return JX_ERR_CONTENT;
}

uint32_t CRTPAACMedia::UnitTime(uint32_t nTimeStamp, uint32_t nOffset) const
{
    if (m_ConstantDuration != 0) {
        return nTimeStamp + nOffset * m_ConstantDuration;
    }
    // The core's frame in the RTP clock: 1024 samples are 2048 ticks when
    // SBR doubles the rate the clock counts.
    const uint64_t nTicks = static_cast<uint64_t>(nOffset) * m_Config.m_FrameSamples * m_Clock.GetRate() /
                            (m_Config.m_CoreRate != 0 ? m_Config.m_CoreRate : 1);
    return nTimeStamp + static_cast<uint32_t>(nTicks);
}

int32_t CRTPAACMedia::DeliverUnit(const uint8_t* pData, int32_t nLen, uint32_t nTimeStamp)
{
    if (nLen <= 0) {
        return JX_OK;
    }
    if (reinterpret_cast<const char*>(pData) != m_Buffer.m_Data) {
        m_Buffer.Empty();
        const int32_t nResult = AppendFrame(pData, nLen);
        if (nResult != JX_OK) {
            return nResult;
        }
    }
    m_FrameTimeStamp = nTimeStamp;
    const int32_t nResult = DeliverFrame(JX_CODEC_AAC, m_Config.m_SampleRate);
    m_Buffer.Empty();   // also when the delivery failed: the unit is gone either way
    return nResult;
}

int32_t CRTPAACMedia::CheckInvariants() const
{
    int32_t nResult = CRTPMediaAudio::CheckInvariants();
    if (nResult != JX_OK) {
        return nResult;
    }
    const char* pRule = nullptr;
    const uint32_t nFrame = m_Config.m_FrameSamples;
    if (m_Ready && (m_Config.m_Length <= 0 || m_Config.m_Length > JX_AUDIO_CONFIG_BYTES ||
                    m_Config.m_CoreRate == 0 || m_Config.m_SampleRate == 0 || m_Config.m_Channels == 0 ||
                    m_Config.m_Channels > kMaxChannels ||
                    (nFrame != 1024 && nFrame != 960 && nFrame != 512 && nFrame != 480))) {
        pRule = "ready without a whole config";
    } else if (m_FragmentOpen && (!m_Ready || GatheredLength() <= 0)) {
        pRule = "a fragment is open with nothing gathered, or before the config";
    } else if (!m_FragmentOpen && (GatheredLength() != 0 || m_Buffer.m_Length != 0)) {
        pRule = "bytes gathered with no fragment open";
    } else if (m_FragmentOpen && m_SkipTimeStamp) {
        pRule = "a fragment is open while its timestamp is refused";
    }
    if (pRule != nullptr) {
        JXPrintf("aac: invariant broken: %s\n", pRule);
        return JX_ERR_STATE;
    }
    return JX_OK;
}

// ---------------------------------------------------------------------------
// CRTPAAC

CRTPAAC::CRTPAAC(CRTPSocket* pSocket) : CRTPAACMedia(pSocket) {}

CRTPAAC::~CRTPAAC() = default;

int CRTPAAC::Setup(const char* pText)
{
    if (pText == nullptr) return JX_ERR_ARG;
    uint32_t* const pFields[] = {&m_SizeLength, &m_IndexLength, &m_IndexDeltaLength, &m_CTSDeltaLength,
                                 &m_DTSDeltaLength, &m_RandomAccess, &m_StreamStateLength, &m_AuxSizeLength,
                                 &m_ConstantSize, &m_ConstantDuration};
    const char* const pKeys[] = {"sizelength", "indexlength", "indexdeltalength", "ctsdeltalength",
                                 "dtsdeltalength", "randomaccessindication", "streamstateindication",
                                 "auxiliarydatasizelength", "constantsize", "constantduration"};
    bool bGiven[10] = {};
    for (uint32_t* pField : pFields) *pField = 0;
    uint8_t aConfig[JX_AUDIO_CONFIG_BYTES];
    int32_t nConfig = 0;
    int nMode = 0;   // 1 AAC-hbr, 2 AAC-lbr, -1 another
    bool bBadValue = false;
    bool bAudio = true;
    CParam param{};
    for (const char* p = pText; NextParam(p, param);) {
        if (param.Is("mode")) {
            nMode = param.ValueIs("AAC-hbr") ? 1 : param.ValueIs("AAC-lbr") ? 2 : -1;
        } else if (param.Is("config")) {
            nConfig = param.Hex(aConfig, JX_AUDIO_CONFIG_BYTES);
        } else if (param.Is("streamtype")) {
            uint32_t nType = 0;
            bAudio = param.Number(0xFF, nType) && nType == kStreamTypeAudio;
        }
        for (size_t i = 0; i < sizeof(pKeys) / sizeof(pKeys[0]); ++i) {
            if (!param.Is(pKeys[i])) continue;
            // Field lengths are read 32 bits at most; sizes and durations are
            // bounded by the frame cap and a 32-bit clock.
            const uint32_t nMax = i < 8 ? kMaxFieldBits : 0x7FFFFFFFu;
            bBadValue |= !param.Number(nMax, *pFields[i]);
            bGiven[i] = true;
        }
    }
    // AAC-hbr and AAC-lbr fix the field lengths (RFC 3640 3.3.6, 3.3.5):
    // cameras that leave them out still mean them.
    if (nMode > 0 && !bGiven[0] && !bGiven[1] && !bGiven[2]) {
        m_SizeLength = nMode == 1 ? 13 : 6;
        m_IndexLength = m_IndexDeltaLength = nMode == 1 ? 3 : 2;
    }
    if (nMode <= 0 || !bAudio) {
        return UseConfig(JX_ERR_UNSUPPORTED, "mpeg4-generic: the mode is not AAC-hbr or AAC-lbr");
    }
    if (bBadValue || m_RandomAccess > 1 || nConfig <= 0) {
        return UseConfig(JX_ERR_CONTENT, "mpeg4-generic: a=fmtp: values (config, field lengths)");
    }
    // Time deltas do not occur in the AAC modes; units of no stated size cannot be told apart.
    if (m_CTSDeltaLength != 0 || m_DTSDeltaLength != 0 || (m_SizeLength == 0 && m_ConstantSize == 0)) {
        return UseConfig(JX_ERR_UNSUPPORTED, "mpeg4-generic: AU headers with time deltas or no sizes");
    }
    return UseConfig(m_Config.Parse(aConfig, nConfig), "mpeg4-generic: AudioSpecificConfig");
}

bool CRTPAAC::HasHeaders() const
{
    return (m_SizeLength | m_IndexLength | m_IndexDeltaLength | m_RandomAccess | m_StreamStateLength) != 0;
}

//   payload: [AU-headers-length, 16 bits][AU headers, padded to a byte]
//            [auxiliary section, padded to a byte][AU 0][AU 1]...
int32_t CRTPAAC::WalkUnits(const uint8_t* p, int32_t n, uint32_t nTimeStamp, bool bDeliver, CUnits& out)
{
    out = CUnits();
    int32_t nAt = 0;
    uint32_t nHeaderBits = 0;
    if (HasHeaders()) {
        if (n < 2) return JX_ERR_CONTENT;
        nHeaderBits = (static_cast<uint32_t>(p[0]) << 8) | p[1];
        nAt = 2 + static_cast<int32_t>((nHeaderBits + 7) / 8);
        if (nHeaderBits == 0 || nAt > n) return JX_ERR_CONTENT;
    }
    if (m_AuxSizeLength != 0) {
        CBitSpan aux(p + nAt, 8 * static_cast<int64_t>(n - nAt));
        const uint32_t nAuxBits = aux.Read(m_AuxSizeLength);
        aux.Skip(nAuxBits);
        if (aux.Error()) return JX_ERR_CONTENT;
        nAt += static_cast<int32_t>((aux.Pos() + 7) / 8);
    }
    out.m_DataAt = nAt;
    const uint8_t* pData = p + nAt;
    const int64_t nData = n - nAt;
    if (!HasHeaders()) {
        // Every unit is constantsize bytes, as many as fill the payload.
        if (nData == 0 || nData % m_ConstantSize != 0) return JX_ERR_CONTENT;
        out.m_Count = static_cast<uint32_t>(nData / m_ConstantSize);
        out.m_FirstSize = m_ConstantSize;
        out.m_Total = nData;
        for (uint32_t i = 0; bDeliver && i < out.m_Count; ++i) {
            DeliverUnit(pData + int64_t(i) * m_ConstantSize, static_cast<int32_t>(m_ConstantSize),
                        UnitTime(nTimeStamp, i));
        }
        return JX_OK;
    }
    CBitSpan bits(p + 2, nHeaderBits);
    uint32_t nOffset = 0;   // units after the first, from the index deltas
    while (bits.Left() > 0) {
        const int64_t nHeaderStart = bits.Pos();
        const uint32_t nSize = m_SizeLength != 0 ? bits.Read(m_SizeLength) : m_ConstantSize;
        if (out.m_Count == 0) {
            bits.Skip(m_IndexLength);   // AU-Index: the packet's timestamp is the first unit's
        } else {
            nOffset += bits.Read(m_IndexDeltaLength) + 1;   // AU-Index-delta (RFC 3640 3.2.1.1)
        }
        bits.Skip(m_RandomAccess + m_StreamStateLength);
        if (bits.Error() || bits.Pos() == nHeaderStart) return JX_ERR_CONTENT;
        if (bDeliver) {
            DeliverUnit(pData + out.m_Total, static_cast<int32_t>(nSize), UnitTime(nTimeStamp, nOffset));
        }
        if (out.m_Count == 0) out.m_FirstSize = nSize;
        ++out.m_Count;
        out.m_Total += nSize;
    }
    return JX_OK;
}

int32_t CRTPAAC::TakePayload(const CRTPParser& rtp, EPacketStart nStart)
{
    const uint8_t* p = rtp.Payload();
    const int32_t n = rtp.PayloadLength();
    const bool bLast = rtp.m_Marker != 0;
    CUnits units;
    if (WalkUnits(p, n, rtp.m_TimeStamp, false, units) != JX_OK) {
        const bool bCount = nStart == kStartsNew;
        DropFragment(!bLast);
        return Refuse("AU headers run past the payload", bCount);
    }
    const int32_t nData = n - units.m_DataAt;
    if (nStart == kContinues) {
        // Every fragment's header gives the size of the whole unit (RFC 3640 3.2.3).
        if (units.m_Count != 1 || units.m_FirstSize != m_FragmentSize) {
            DropFragment(!bLast);
            return Refuse("a fragment's AU header differs from the first fragment's", false);
        }
        if (nData > static_cast<int64_t>(m_FragmentSize) - m_Buffer.m_Length) {
            DropFragment(!bLast);
            return Refuse("fragments run past the unit's size", false);
        }
        if (AppendFrame(p + units.m_DataAt, nData) != JX_OK) {
            DropFragment(!bLast);   // out of memory: the unit cannot be whole
            return JX_ERR_NOMEM;
        }
        if (m_Buffer.m_Length == static_cast<int32_t>(m_FragmentSize)) {
            DeliverUnit(reinterpret_cast<const uint8_t*>(m_Buffer.m_Data), m_Buffer.m_Length, m_FragmentTimeStamp);
            CloseDelivered();
            return JX_OK;
        }
        if (bLast) {
            DropFragment(false);
            return Refuse("the last fragment leaves the unit short", false);
        }
        return JX_OK;
    }
    if (units.m_Total == nData) {
        return WalkUnits(p, n, rtp.m_TimeStamp, true, units);
    }
    // One unit larger than the packet and more to come: its first fragment.
    if (units.m_Count == 1 && nData > 0 && units.m_FirstSize > static_cast<uint32_t>(nData) && !bLast &&
        units.m_FirstSize <= static_cast<uint32_t>(kMaxFrameBytes)) {
        if (AppendFrame(p + units.m_DataAt, nData) != JX_OK) {
            DropFragment(true);
            return JX_ERR_NOMEM;
        }
        m_FragmentSize = units.m_FirstSize;
        m_FragmentTimeStamp = rtp.m_TimeStamp;
        m_FragmentOpen = true;
        return JX_OK;
    }
    DropFragment(!bLast);
    return Refuse(units.m_Total > nData ? "an AU size runs past the payload" : "AU sizes leave bytes over", true);
}

int32_t CRTPAAC::CheckInvariants() const
{
    const int32_t nResult = CRTPAACMedia::CheckInvariants();
    if (nResult != JX_OK) {
        return nResult;
    }
    const uint32_t nLengths[] = {m_SizeLength, m_IndexLength, m_IndexDeltaLength, m_StreamStateLength,
                                 m_AuxSizeLength};
    const char* pRule = nullptr;
    for (uint32_t nBits : nLengths) {
        if (nBits > kMaxFieldBits) pRule = "an AU-header field over 32 bits";
    }
    if (m_Ready && (m_RandomAccess > 1 || m_CTSDeltaLength != 0 || m_DTSDeltaLength != 0 ||
                    (m_SizeLength == 0 && m_ConstantSize == 0))) {
        pRule = "ready with an AU-header layout that is refused";
    } else if (m_FragmentOpen && (m_FragmentSize > static_cast<uint32_t>(kMaxFrameBytes) ||
                                  m_Buffer.m_Length >= static_cast<int32_t>(m_FragmentSize))) {
        pRule = "a fragment holds its whole unit or more, or a unit over the frame cap";
    }
    if (pRule != nullptr) {
        JXPrintf("aac: invariant broken: %s\n", pRule);
        return JX_ERR_STATE;
    }
    return JX_OK;
}

// ---------------------------------------------------------------------------
// CRTPLATM

CRTPLATM::CRTPLATM(CRTPSocket* pSocket) : CRTPAACMedia(pSocket), m_Element(nullptr, 5)
{
    m_Element.Init(kInitialBuffer);   // on failure it grows with the first fragment
}

CRTPLATM::~CRTPLATM() = default;

int CRTPLATM::Setup(const char* pText)
{
    if (pText == nullptr) return JX_ERR_ARG;
    uint8_t aConfig[JX_AUDIO_CONFIG_BYTES];
    int32_t nConfig = 0;
    uint32_t nPresent = 1;   // RFC 6416 7.3: cpresent is 1 unless given
    bool bBadValue = false;
    CParam param{};
    for (const char* p = pText; NextParam(p, param);) {
        if (param.Is("cpresent")) {
            bBadValue |= !param.Number(1, nPresent);
        } else if (param.Is("config")) {
            nConfig = param.Hex(aConfig, JX_AUDIO_CONFIG_BYTES);
        }
    }
    if (nPresent != 0 && !bBadValue) {
        return UseConfig(JX_ERR_UNSUPPORTED, "MP4A-LATM: the config in the stream (cpresent=1)");
    }
    if (bBadValue || nConfig <= 0) {
        return UseConfig(JX_ERR_CONTENT, "MP4A-LATM: a=fmtp: values (config, cpresent)");
    }
    return UseConfig(m_Config.ParseStreamMux(aConfig, nConfig, m_SubFrames, m_OtherBytes),
                     "MP4A-LATM: StreamMuxConfig");
}

//   element: ([PayloadLengthInfo: FF FF .. last][PayloadMux: that many bytes])
//            × numSubFrames + 1, then the other data; elements back to back.
int32_t CRTPLATM::WalkElements(const uint8_t* p, int32_t n, uint32_t nTimeStamp, bool bDeliver)
{
    if (n <= 0) return JX_ERR_CONTENT;
    int32_t nAt = 0;
    uint32_t nUnit = 0;
    while (nAt < n) {
        for (uint32_t s = 0; s < m_SubFrames; ++s) {
            uint32_t nLen = 0;
            uint8_t nByte = kLengthContinues;
            while (nByte == kLengthContinues) {
                if (nAt >= n) return JX_ERR_CONTENT;
                nByte = p[nAt++];
                nLen += nByte;
            }
            if (nLen > static_cast<uint32_t>(n - nAt)) return JX_ERR_CONTENT;
            if (bDeliver) {
                DeliverUnit(p + nAt, static_cast<int32_t>(nLen), UnitTime(nTimeStamp, nUnit));
            }
            nAt += static_cast<int32_t>(nLen);
            ++nUnit;
        }
        if (m_OtherBytes > static_cast<uint32_t>(n - nAt)) return JX_ERR_CONTENT;
        nAt += static_cast<int32_t>(m_OtherBytes);
    }
    return JX_OK;
}

int32_t CRTPLATM::TakePayload(const CRTPParser& rtp, EPacketStart nStart)
{
    const uint8_t* p = rtp.Payload();
    const int32_t n = rtp.PayloadLength();
    const bool bLast = rtp.m_Marker != 0;
    if (nStart == kStartsNew && bLast) {
        // Whole elements: read in place.
        if (WalkElements(p, n, rtp.m_TimeStamp, false) != JX_OK) {
            return Refuse("a PayloadLengthInfo runs past the payload", true);
        }
        return WalkElements(p, n, rtp.m_TimeStamp, true);
    }
    if (n <= 0) {
        DropFragment(!bLast);
        return Refuse("an empty fragment", nStart == kStartsNew);
    }
    if (AppendBounded(m_Element, p, n, kMaxFrameBytes) != JX_OK) {
        const bool bCount = !m_FragmentOpen;
        DropFragment(!bLast);
        return Refuse("an element over the frame cap", bCount);
    }
    if (nStart == kStartsNew) {
        m_FragmentOpen = true;
        m_FragmentTimeStamp = rtp.m_TimeStamp;
    }
    if (!bLast) {
        return JX_OK;
    }
    const uint8_t* pElement = reinterpret_cast<const uint8_t*>(m_Element.m_Data);
    if (WalkElements(pElement, m_Element.m_Length, m_FragmentTimeStamp, false) != JX_OK) {
        DropFragment(false);
        return Refuse("the fragments are not whole elements", false);
    }
    WalkElements(pElement, m_Element.m_Length, m_FragmentTimeStamp, true);
    CloseDelivered();
    return JX_OK;
}

// RFC 6416 sets the marker bit on an element's last packet; a sender that
// leaves it off has its elements closed by the next timestamp instead.
bool CRTPLATM::CloseFragment()
{
    const uint8_t* pElement = reinterpret_cast<const uint8_t*>(m_Element.m_Data);
    if (WalkElements(pElement, m_Element.m_Length, m_FragmentTimeStamp, false) != JX_OK) {
        return false;
    }
    WalkElements(pElement, m_Element.m_Length, m_FragmentTimeStamp, true);
    CloseDelivered();
    if (!m_MarkerLogged) {
        m_MarkerLogged = true;
        JXPrintf("MP4A-LATM: the sender leaves the marker bit off; each element goes out at the next timestamp\n");
    }
    return true;
}

int32_t CRTPLATM::CheckInvariants() const
{
    int32_t nResult = CRTPAACMedia::CheckInvariants();
    if (nResult == JX_OK) {
        nResult = CheckBuffer(m_Element, kMaxFrameBytes, "latm");
    }
    if (nResult != JX_OK) {
        return nResult;
    }
    if (m_SubFrames == 0 || m_SubFrames > kMaxSubFrames || m_OtherBytes > static_cast<uint32_t>(kMaxFrameBytes)) {
        JXPrintf("latm: invariant broken: access units per element or other data out of range\n");
        return JX_ERR_STATE;
    }
    if (m_FragmentOpen && m_Buffer.m_Length != 0) {
        JXPrintf("latm: invariant broken: a unit is left in the frame buffer\n");
        return JX_ERR_STATE;
    }
    return JX_OK;
}
