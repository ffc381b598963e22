// RTSP response reader and Authorization values.
#include "rtspcommand.h"

#include <cstdlib>
#include <cstring>
#include <random>

namespace {

const char kRtpInfoKey[] = "RTP-info: ";
const char kContentBaseKey[] = "Content-Base: ";
const char kContentLocationKey[] = "Content-Location: ";
const char kLocationKey[] = "Location: ";
const char kCSeqKey[] = "CSeq: ";
const char kQopAuth[] = "auth";
constexpr int32_t kHashChars = JX_SHA256_HEX_SIZE;   // room for either digest in hex

// Append pText as the inside of a quoted-string (RFC 2616 section 2.2): quote
// and backslash are escaped, control characters are left out so that no value
// can end the header line early.
void AppendQuoted(CJXString& out, const char* pText)
{
    out += "\"";
    for (const char* p = pText ? pText : ""; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F) continue;
        if (c == '"' || c == '\\') out.AppendDAT("\\", 1);
        out.AppendDAT(p, 1);
    }
    out += "\"";
}

// True when the comma-separated qop list offers the token "auth" itself
// (not only "auth-int").
bool OffersQopAuth(const char* pList)
{
    if (pList == nullptr) return false;
    const char* p = pList;
    while (*p != '\0') {
        while (*p == ',' || *p == ' ' || *p == '\t')
            ++p;
        const char* pStart = p;
        while (*p != '\0' && *p != ',' && *p != ' ' && *p != '\t')
            ++p;
        if (CJXString::EqualNoCase(pStart, int32_t(p - pStart), kQopAuth)) return true;
    }
    return false;
}

// The digest of the text in the scratch string, as lower-case hex.
void HashText(const CJXString& text, bool bSHA256, char* pOut)
{
    if (bSHA256) {
        JXSHA256Data(text.c_str(), text.m_Length, pOut);
    } else {
        JXMD5Data(text.c_str(), text.m_Length, pOut);
    }
}

}   // namespace

// ---------------------------------------------------------------------------
// CRTSPCommand

CRTSPCommand::CRTSPCommand() = default;

CRTSPCommand::~CRTSPCommand()
{
    ClearRtspFields();
}

void CRTSPCommand::ClearRtspFields()
{
    free(m_RtpInfo);
    free(m_ContentBase);
    free(m_ContentLocation);
    free(m_Location);
    m_RtpInfo = m_ContentBase = m_ContentLocation = m_Location = nullptr;
}

int32_t CRTSPCommand::ParseResponse(const char* pText, int32_t nLen)
{
    if (pText == nullptr || nLen < 1) return 0;
    int32_t nHead = 0;
    if (m_StatusCode == 0) {
        // The head is taken whole or not at all; its bytes stay with the
        // caller until the blank line has arrived.
        nHead = CJXHTTPCommand::ParseResponse(pText, nLen);
        if (nHead <= 0) return nHead;
        pText += nHead;
        nLen -= nHead;
    }
    const int32_t nBody = ParseContent(pText, nLen, &m_Body);
    if (nBody < 0) return nBody;
    return nHead + nBody;
}

int32_t CRTSPCommand::Reset()
{
    ClearRtspFields();
    return CJXHTTPCommand::Reset();
}

int32_t CRTSPCommand::ParseHeadLine(const char* pLine)
{
    if (ParseLine(m_RtpInfo, pLine, kRtpInfoKey)) return 1;
    if (ParseLine(m_ContentBase, pLine, kContentBaseKey)) return 1;
    if (ParseLine(m_ContentLocation, pLine, kContentLocationKey)) return 1;
    if (ParseLine(m_Location, pLine, kLocationKey)) return 1;
    return CJXHTTPCommand::ParseHeadLine(pLine);
}

int32_t CRTSPCommand::BuildHeadLine(CJXString& out)
{
    CJXHTTPCommand::BuildHeadLine(out);
    BuildLine(out, kCSeqKey, static_cast<uint32_t>(m_CSeq));
    return 1;
}

// ---------------------------------------------------------------------------
// CRTSPAuthen

CRTSPAuthen::CRTSPAuthen() = default;

CRTSPAuthen::~CRTSPAuthen() = default;

int32_t CRTSPAuthen::BuildRequest(CJXString& out, const char* pMethod, const char* pUri)
{
    if (m_Scheme == kSchemeBasic) return BuildBasic(out);
    return BuildDigest(out, pMethod, pUri);
}

int32_t CRTSPAuthen::BuildBasic(CJXString& out)
{
    if (CJXString::IsEmpty(m_User)) return JX_ERR_ARG;
    CJXString plain;
    plain.Append("%s:%s", m_User, m_Password ? m_Password : "");
    char* pEncoded = nullptr;
    int32_t nEncoded = 0;
    JXBASE64Encode(&pEncoded, &nEncoded, plain.c_str(), plain.m_Length);
    out.Append("Basic %s", pEncoded ? pEncoded : "");
    free(pEncoded);
    return JX_OK;
}

int32_t CRTSPAuthen::BuildDigest(CJXString& out, const char* pMethod, const char* pUri)
{
    if (CJXString::IsEmpty(m_User) || CJXString::IsEmpty(pMethod) || CJXString::IsEmpty(pUri)) return JX_ERR_ARG;
    if (m_DigestAlgorithm >= kDigestUnknown) return JX_ERR_UNSUPPORTED;
    const char* pRealm = m_Realm ? m_Realm : "";
    const char* pNonce = m_Nonce ? m_Nonce : "";
    const bool bSHA256 = m_DigestAlgorithm == kDigestSHA256 || m_DigestAlgorithm == kDigestSHA256Sess;
    const bool bSess = m_DigestAlgorithm == kDigestMD5Sess || m_DigestAlgorithm == kDigestSHA256Sess;
    const bool bQop = OffersQopAuth(m_Qop);
    char cnonce[kMaxCNonceChars + 1] = {};
    if (bQop || bSess) MakeCNonce(cnonce);

    char ha1[kHashChars];
    char ha2[kHashChars];
    char response[kHashChars];
    CJXString text;
    text.Append("%s:%s:%s", m_User, pRealm, m_Password ? m_Password : "");
    HashText(text, bSHA256, ha1);
    if (bSess) {
        // The session key: the password's hash bound to both nonces.
        text.Empty();
        text.Append("%s:%s:%s", ha1, pNonce, cnonce);
        HashText(text, bSHA256, ha1);
    }
    text.Empty();
    text.Append("%s:%s", pMethod, pUri);
    HashText(text, bSHA256, ha2);

    // With qop, the digest also covers nc, cnonce and qop.
    text.Empty();
    if (bQop) {
        ++m_NonceCount;
        text.Append("%s:%s:%08x:%s:%s:%s", ha1, pNonce, m_NonceCount, cnonce, kQopAuth, ha2);
    } else {
        text.Append("%s:%s:%s", ha1, pNonce, ha2);
    }
    HashText(text, bSHA256, response);

    out += "Digest username=";
    AppendQuoted(out, m_User);
    out += ", realm=";
    AppendQuoted(out, pRealm);
    out += ", nonce=";
    AppendQuoted(out, pNonce);
    out += ", uri=";
    AppendQuoted(out, pUri);
    out.Append(", response=\"%s\"", response);
    if (m_Opaque != nullptr) {
        out += ", opaque=";
        AppendQuoted(out, m_Opaque);
    }
    // Only a name the challenge parsed as computable gets here: a token, sent
    // back as the server wrote it.
    if (m_Algorithm != nullptr) out.Append(", algorithm=%s", m_Algorithm);
    if (bQop) out.Append(", qop=%s, nc=%08x", kQopAuth, m_NonceCount);
    if (bQop || bSess) out.Append(", cnonce=\"%s\"", cnonce);
    return JX_OK;
}

void CRTSPAuthen::SetNextCNonce(const char* pCNonce)
{
    m_NextCNonce[0] = '\0';
    if (pCNonce == nullptr) return;
    strncat(m_NextCNonce, pCNonce, kMaxCNonceChars);
}

void CRTSPAuthen::MakeCNonce(char* pOut)
{
    if (m_NextCNonce[0] != '\0') {
        memcpy(pOut, m_NextCNonce, sizeof(m_NextCNonce));
        m_NextCNonce[0] = '\0';
        return;
    }
    // A client nonce needs to be unpredictable, not secret: one generator per
    // thread, seeded from the system's random source.
    static thread_local std::mt19937_64 s_Random(std::random_device{}());
    static const char kHex[] = "0123456789abcdef";
    uint64_t nBits = s_Random();
    for (int32_t i = 0; i < kCNonceChars; ++i, nBits >>= 4)
        pOut[i] = kHex[nBits & 0xF];
    pOut[kCNonceChars] = '\0';
}
