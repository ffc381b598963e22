// Credentials and the server's authentication challenge (RFC 7235 syntax,
// RFC 2617 Basic and Digest parameters).
#include "JXHTTPAuthen.h"

#include "JXCodec.h"
#include "JXString.h"

#include <cstdlib>
#include <cstring>

namespace {

// What a challenge offers, best last.
enum : int32_t {
    kRankNone = 0,        // unknown scheme, Digest without any parameter or with
                          // an algorithm not computed here (SHA-512-256, ...)
    kRankDigestNoNonce,   // Digest without a nonce: tried only when nothing better
    kRankBasic,
    kRankDigestMD5,      // Digest with a nonce, algorithm MD5, MD5-sess or none
    kRankDigestSHA256,   // Digest with a nonce, algorithm SHA-256 or SHA-256-sess
};

// The algorithm tokens computed here, by their kDigest value.
const char* const kAlgorithmNames[] = {"MD5", "MD5-sess", "SHA-256", "SHA-256-sess"};
static_assert(sizeof(kAlgorithmNames) / sizeof(kAlgorithmNames[0]) == CJXHTTPAuthen::kDigestUnknown,
              "one name per computed algorithm");

enum : int32_t { kKindOther = 0, kKindBasic, kKindDigest };

// RFC 7230 tchar.
bool IsTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c != '\0' && strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

// A parameter value inside the challenge text: raw bytes (without the quotes of
// a quoted string) and its length once backslash escapes are removed.
struct SSpan {
    const char* m_Text = nullptr;
    int32_t m_Raw = 0;
    int32_t m_Decoded = 0;
    bool m_Quoted = false;
};

struct SChallenge {
    int32_t m_Kind = kKindOther;
    int32_t m_Params = 0;
    bool m_Repeated = false;   // a parameter kept here was named twice
    SSpan m_Realm, m_Nonce, m_Opaque, m_Qop, m_Algorithm, m_Stale;
    // Of credentials (an Authorization value).
    SSpan m_Username, m_Uri, m_Response, m_CNonce, m_Nc;
};

// Writes the value without escapes into pOut (room for nCap bytes and a NUL).
void DecodeInto(const SSpan& v, char* pOut, int32_t nCap)
{
    int32_t nOut = 0;
    for (int32_t i = 0; i < v.m_Raw && nOut < nCap; ++i) {
        if (v.m_Quoted && v.m_Text[i] == '\\' && i + 1 < v.m_Raw) ++i;
        pOut[nOut++] = v.m_Text[i];
    }
    pOut[nOut] = '\0';
}

// Heap copy of the decoded value, null when absent.
char* CloneValue(const SSpan& v)
{
    if (v.m_Text == nullptr) return nullptr;
    char* p = static_cast<char*>(malloc(size_t(v.m_Decoded) + 1));
    if (p != nullptr) DecodeInto(v, p, v.m_Decoded);
    return p;
}

bool ValueIs(const SSpan& v, const char* pWord)
{
    char szValue[16];
    if (v.m_Text == nullptr || v.m_Decoded >= int32_t(sizeof(szValue))) return false;
    DecodeInto(v, szValue, v.m_Decoded);
    return CJXString::EqualNoCase(szValue, v.m_Decoded, pWord);
}

// The Digest algorithm a challenge asks for; no algorithm parameter means MD5.
uint32_t AlgorithmOf(const SChallenge& c)
{
    if (c.m_Algorithm.m_Text == nullptr) return CJXHTTPAuthen::kDigestMD5;
    for (uint32_t i = 0; i < CJXHTTPAuthen::kDigestUnknown; ++i) {
        if (ValueIs(c.m_Algorithm, kAlgorithmNames[i])) return i;
    }
    return CJXHTTPAuthen::kDigestUnknown;
}

int32_t RankOf(const SChallenge& c)
{
    if (c.m_Kind == kKindBasic) return kRankBasic;
    if (c.m_Kind != kKindDigest || c.m_Params == 0) return kRankNone;
    const uint32_t nAlgorithm = AlgorithmOf(c);
    // An answer we cannot compute is refused on every attempt: never take it.
    if (nAlgorithm == CJXHTTPAuthen::kDigestUnknown) return kRankNone;
    if (c.m_Nonce.m_Text == nullptr) return kRankDigestNoNonce;
    if (nAlgorithm == CJXHTTPAuthen::kDigestSHA256 || nAlgorithm == CJXHTTPAuthen::kDigestSHA256Sess) {
        return kRankDigestSHA256;
    }
    return kRankDigestMD5;
}

// A quoted string or a bare value at p[i]; i moves behind it.
int32_t ReadValue(const char* p, int32_t n, int32_t& i, SSpan& out)
{
    if (i < n && p[i] == '"') {
        int32_t nStart = ++i;
        int32_t nDecoded = 0;
        while (i < n && p[i] != '"') {
            if (p[i] == '\\' && ++i >= n) return JX_ERR_CONTENT;   // escape at the very end
            ++i;
            if (++nDecoded > CJXHTTPAuthen::kMaxValueBytes) return JX_ERR_CONTENT;
        }
        if (i >= n) return JX_ERR_CONTENT;   // unterminated quote
        out.m_Text = p + nStart;
        out.m_Raw = i - nStart;
        out.m_Decoded = nDecoded;
        out.m_Quoted = true;
        ++i;
        return JX_OK;
    }
    // A token, or a token68-like value (nonce=abc/+==) some servers send unquoted.
    int32_t nStart = i;
    while (i < n && !CJXString::IsBlank(p[i]) && p[i] != ',' && p[i] != '"')
        ++i;
    if (i == nStart || (i < n && p[i] == '"')) return JX_ERR_CONTENT;   // "realm=" or realm=a"b
    if (i - nStart > CJXHTTPAuthen::kMaxValueBytes) return JX_ERR_CONTENT;
    out.m_Text = p + nStart;
    out.m_Raw = i - nStart;
    out.m_Decoded = out.m_Raw;
    out.m_Quoted = false;
    return JX_OK;
}

void Assign(SChallenge& c, const char* pName, int32_t nName, const SSpan& v)
{
    ++c.m_Params;
    const struct {
        const char* m_Name;
        SSpan SChallenge::*m_Field;
    } kKept[] = {
        {"realm", &SChallenge::m_Realm},
        {"nonce", &SChallenge::m_Nonce},
        {"opaque", &SChallenge::m_Opaque},
        {"qop", &SChallenge::m_Qop},
        {"algorithm", &SChallenge::m_Algorithm},
        {"stale", &SChallenge::m_Stale},
        {"username", &SChallenge::m_Username},
        {"uri", &SChallenge::m_Uri},
        {"response", &SChallenge::m_Response},
        {"cnonce", &SChallenge::m_CNonce},
        {"nc", &SChallenge::m_Nc},
    };
    // userhash and charset are not read: the user name is always sent as
    // given, and user name and password are hashed as the bytes we hold.
    for (const auto& kept : kKept) {
        if (!CJXString::EqualNoCase(pName, nName, kept.m_Name)) continue;
        SSpan& field = c.*kept.m_Field;
        if (field.m_Text != nullptr) c.m_Repeated = true;
        field = v;
        return;
    }
}

// Reads "scheme name=value, ..." lists, as many challenges as the text holds,
// handing each whole one to fn. 0, or JX_ERR_CONTENT when malformed.
template <typename F>
int32_t ReadChallenges(const char* p, int32_t n, F fn)
{
    SChallenge cur;
    bool bHave = false;
    int32_t i = 0;
    for (;;) {
        while (i < n && (CJXString::IsBlank(p[i]) || p[i] == ','))
            ++i;
        if (i >= n) break;
        int32_t nName = i;
        while (i < n && IsTokenChar(p[i]))
            ++i;
        if (i == nName) return JX_ERR_CONTENT;   // a quote, '=' or junk where a name belongs
        int32_t nNameLen = i - nName;
        int32_t j = i;
        while (j < n && CJXString::IsBlank(p[j]))
            ++j;
        if (j < n && p[j] == '=') {
            // name=value of the current challenge
            if (!bHave) return JX_ERR_CONTENT;
            i = j + 1;
            while (i < n && CJXString::IsBlank(p[i]))
                ++i;
            SSpan value;
            int32_t nRet = ReadValue(p, n, i, value);
            if (nRet < 0) return nRet;
            Assign(cur, p + nName, nNameLen, value);
            continue;
        }
        // A scheme name opens the next challenge.
        if (bHave) fn(cur);
        cur = SChallenge();
        bHave = true;
        if (CJXString::EqualNoCase(p + nName, nNameLen, "Basic"))
            cur.m_Kind = kKindBasic;
        else if (CJXString::EqualNoCase(p + nName, nNameLen, "Digest"))
            cur.m_Kind = kKindDigest;
    }
    if (bHave) fn(cur);
    return JX_OK;
}

// The length of a NUL-ended text of at most nMax bytes, or -1 when longer;
// never reads more than one byte past the limit.
int32_t BoundedLength(const char* p, int32_t nMax)
{
    int32_t n = 0;
    while (n <= nMax && p[n] != '\0')
        ++n;
    return n > nMax ? -1 : n;
}

}   // namespace

CJXHTTPAuthen::CJXHTTPAuthen() = default;

CJXHTTPAuthen::~CJXHTTPAuthen()
{
    Reset();
}

void CJXHTTPAuthen::ClearChallenge()
{
    free(m_Realm);
    m_Realm = nullptr;
    free(m_Nonce);
    m_Nonce = nullptr;
    free(m_Opaque);
    m_Opaque = nullptr;
    free(m_Qop);
    m_Qop = nullptr;
    free(m_Algorithm);
    m_Algorithm = nullptr;
    m_Stale = false;
    free(m_Uri);
    m_Uri = nullptr;
    free(m_Response);
    m_Response = nullptr;
    free(m_CNonce);
    m_CNonce = nullptr;
    free(m_NonceCountText);
    m_NonceCountText = nullptr;
    m_DigestAlgorithm = kDigestMD5;
    m_Scheme = kSchemeBasic;
    m_NonceCount = 0;
}

void CJXHTTPAuthen::Reset()
{
    ClearChallenge();
    free(m_User);
    m_User = nullptr;
    free(m_Password);
    m_Password = nullptr;
}

int32_t CJXHTTPAuthen::SetUser(const char* pUser, const char* pPassword)
{
    char* pNewUser = pUser ? CJXString::Clone(pUser) : nullptr;
    char* pNewPassword = pPassword ? CJXString::Clone(pPassword) : nullptr;
    if ((pUser && !pNewUser) || (pPassword && !pNewPassword)) {
        free(pNewUser);
        free(pNewPassword);
        return JX_ERR_NOMEM;
    }
    free(m_User);
    m_User = pNewUser;
    free(m_Password);
    m_Password = pNewPassword;
    return JX_OK;
}

int32_t CJXHTTPAuthen::ParseResponse(const char* pChallenge)
{
    ClearChallenge();
    if (pChallenge == nullptr) return JX_ERR_ARG;
    const int32_t n = BoundedLength(pChallenge, kMaxChallengeBytes);
    if (n < 0) return JX_ERR_CONTENT;

    SChallenge best;
    int32_t nBestRank = kRankNone;
    const int32_t nRet = ReadChallenges(pChallenge, n, [&](const SChallenge& c) {
        if (RankOf(c) <= nBestRank) return;
        nBestRank = RankOf(c);
        best = c;
    });
    if (nRet < 0) return nRet;
    if (nBestRank == kRankNone) return JX_ERR_CONTENT;

    m_Realm = CloneValue(best.m_Realm);
    if (best.m_Kind == kKindDigest) {
        m_Scheme = kSchemeDigest;
        m_Nonce = CloneValue(best.m_Nonce);
        m_Opaque = CloneValue(best.m_Opaque);
        m_Qop = CloneValue(best.m_Qop);
        m_Algorithm = CloneValue(best.m_Algorithm);
        m_DigestAlgorithm = AlgorithmOf(best);
        m_Stale = ValueIs(best.m_Stale, "true");
    }
    bool bLost = (best.m_Realm.m_Text && !m_Realm) || (best.m_Nonce.m_Text && !m_Nonce && m_Scheme == kSchemeDigest);
    if (bLost) {
        ClearChallenge();
        return JX_ERR_NOMEM;
    }
    return JX_OK;
}

int32_t CJXHTTPAuthen::ParseRequest(const char* pCredentials)
{
    Reset();
    if (pCredentials == nullptr) return JX_ERR_ARG;
    const int32_t n = BoundedLength(pCredentials, kMaxChallengeBytes);
    if (n < 0) return JX_ERR_CONTENT;
    const char* p = pCredentials;
    while (CJXString::IsBlank(*p))
        ++p;
    const int32_t nScheme = int32_t(strcspn(p, " \t"));
    if (CJXString::EqualNoCase(p, nScheme, "Basic")) {
        // One token68: Base64 of user:password.
        char* pPlain = nullptr;
        int32_t nPlain = 0;
        const char* pCode = CJXString::TrimL(p + nScheme);
        if (nScheme == int32_t(strlen(p)) || JXBASE64Decode(&pPlain, &nPlain, pCode, 1) != JX_OK || pPlain == nullptr) {
            return JX_ERR_CONTENT;
        }
        const char* pColon = static_cast<const char*>(memchr(pPlain, ':', size_t(nPlain)));
        int32_t nRet = JX_ERR_CONTENT;
        if (pColon != nullptr) {
            const int32_t nUser = int32_t(pColon - pPlain);
            m_User = CJXString::Clone(nUser > 0 ? pPlain : "", nUser);
            m_Password = CJXString::Clone(pColon + 1 < pPlain + nPlain ? pColon + 1 : "", nPlain - nUser - 1);
            nRet = m_User != nullptr && m_Password != nullptr ? JX_OK : JX_ERR_NOMEM;
        }
        free(pPlain);
        if (nRet != JX_OK) Reset();
        return nRet;
    }
    SChallenge given;
    int32_t nGiven = 0;
    const int32_t nRet = ReadChallenges(p, int32_t(n - (p - pCredentials)), [&](const SChallenge& c) {
        given = c;
        ++nGiven;
    });
    if (nRet < 0) return nRet;
    if (nGiven != 1 || given.m_Kind != kKindDigest || given.m_Repeated) return JX_ERR_CONTENT;
    m_Scheme = kSchemeDigest;
    m_User = CloneValue(given.m_Username);
    m_Realm = CloneValue(given.m_Realm);
    m_Nonce = CloneValue(given.m_Nonce);
    m_Opaque = CloneValue(given.m_Opaque);
    m_Qop = CloneValue(given.m_Qop);
    m_Algorithm = CloneValue(given.m_Algorithm);
    m_DigestAlgorithm = AlgorithmOf(given);
    m_Uri = CloneValue(given.m_Uri);
    m_Response = CloneValue(given.m_Response);
    m_CNonce = CloneValue(given.m_CNonce);
    m_NonceCountText = CloneValue(given.m_Nc);
    return JX_OK;
}
