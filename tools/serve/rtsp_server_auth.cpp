// Digest answers are computed with the base library's MD5 and compared
// whole; a parameter list that cannot be read is a refusal, never a pass.
#include "rtsp_server_auth.h"

#include "JXBase.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace {
const char kBasic[] = "Basic";
const char kDigest[] = "Digest";
const size_t kMaxParams = 16;

char Lower(char c)
{
    return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

std::string LowerText(std::string s)
{
    for (char& c : s) c = Lower(c);
    return s;
}

// "Scheme rest": true when sHeader starts with the scheme (any case) and a space.
bool SplitScheme(const std::string& sHeader, const char* pScheme, std::string& sRest)
{
    const size_t n = strlen(pScheme);
    if (sHeader.size() <= n || LowerText(sHeader.substr(0, n)) != LowerText(pScheme) || sHeader[n] != ' ')
        return false;
    size_t i = n;
    while (i < sHeader.size() && sHeader[i] == ' ') ++i;
    sRest = sHeader.substr(i);
    return true;
}

// name=value pairs separated by commas; values quoted (with \ escapes) or
// tokens. False when malformed or when a name repeats.
bool ParseParams(const std::string& s, std::map<std::string, std::string>& out)
{
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        while (i < n && (s[i] == ' ' || s[i] == ',' || s[i] == '\t')) ++i;
        if (i == n) break;
        const size_t nName = i;
        while (i < n && s[i] != '=' && s[i] != ',' && s[i] != ' ') ++i;
        if (i == n || s[i] != '=' || i == nName) return false;
        const std::string sName = LowerText(s.substr(nName, i - nName));
        ++i;
        std::string sValue;
        if (i < n && s[i] == '"') {
            ++i;
            bool bClosed = false;
            for (; i < n; ++i) {
                if (s[i] == '\\' && i + 1 < n) {
                    sValue += s[++i];
                } else if (s[i] == '"') {
                    bClosed = true;
                    ++i;
                    break;
                } else {
                    sValue += s[i];
                }
            }
            if (!bClosed) return false;
        } else {
            const size_t nValue = i;
            while (i < n && s[i] != ',' && s[i] != ' ') ++i;
            sValue = s.substr(nValue, i - nValue);
        }
        if (out.count(sName) != 0 || out.size() >= kMaxParams) return false;
        out[sName] = sValue;
    }
    return true;
}

std::string Md5(const std::string& s)
{
    char hex[JX_MD5_HEX_SIZE];
    if (JXMD5Data(s.data(), int32_t(s.size()), hex) != JX_OK) return std::string();
    return hex;
}

const std::string* Find(const std::map<std::string, std::string>& params, const char* pName)
{
    auto it = params.find(pName);
    return it == params.end() ? nullptr : &it->second;
}
}   // namespace

void CRtspServerAuth::Setup(Mode mode, const std::string& sUser, const std::string& sPassword,
                            const std::string& sRealm, const std::string& sNonce)
{
    m_Mode = mode;
    m_User = sUser;
    m_Password = sPassword;
    m_Realm = sRealm;
    m_Nonce = sNonce;
}

std::string CRtspServerAuth::Challenge() const
{
    if (m_Mode == Mode::kBasic) return std::string(kBasic) + " realm=\"" + m_Realm + "\"";
    return std::string(kDigest) + " realm=\"" + m_Realm + "\", nonce=\"" + m_Nonce + "\", algorithm=MD5, qop=\"auth\"";
}

bool CRtspServerAuth::Check(const std::string& sMethod, const char* pAuthorization) const
{
    if (m_Mode == Mode::kNone) return true;
    if (pAuthorization == nullptr) return false;
    std::string sRest;
    if (m_Mode == Mode::kBasic) return SplitScheme(pAuthorization, kBasic, sRest) && CheckBasic(sRest);
    return SplitScheme(pAuthorization, kDigest, sRest) && CheckDigest(sMethod, sRest);
}

bool CRtspServerAuth::CheckBasic(const std::string& sCredentials) const
{
    char* pPlain = nullptr;
    int32_t nPlain = 0;
    if (JXBASE64Decode(&pPlain, &nPlain, sCredentials.c_str(), 1) != JX_OK || pPlain == nullptr) return false;
    const std::string sPlain(pPlain, size_t(nPlain));
    free(pPlain);
    return sPlain == m_User + ":" + m_Password;
}

bool CRtspServerAuth::CheckDigest(const std::string& sMethod, const std::string& sParams) const
{
    std::map<std::string, std::string> params;
    if (!ParseParams(sParams, params)) return false;
    const std::string* pUser = Find(params, "username");
    const std::string* pRealm = Find(params, "realm");
    const std::string* pNonce = Find(params, "nonce");
    const std::string* pUri = Find(params, "uri");
    const std::string* pResponse = Find(params, "response");
    const std::string* pAlgorithm = Find(params, "algorithm");
    const std::string* pQop = Find(params, "qop");
    if (pUser == nullptr || pRealm == nullptr || pNonce == nullptr || pUri == nullptr || pResponse == nullptr)
        return false;
    if (*pUser != m_User || *pRealm != m_Realm || *pNonce != m_Nonce) return false;
    if (pAlgorithm != nullptr && LowerText(*pAlgorithm) != "md5") return false;
    const std::string sHa1 = Md5(m_User + ":" + m_Realm + ":" + m_Password);
    const std::string sHa2 = Md5(sMethod + ":" + *pUri);
    std::string sExpected;
    if (pQop == nullptr) {
        sExpected = Md5(sHa1 + ":" + m_Nonce + ":" + sHa2);
    } else {
        const std::string* pNc = Find(params, "nc");
        const std::string* pCnonce = Find(params, "cnonce");
        if (LowerText(*pQop) != "auth" || pNc == nullptr || pCnonce == nullptr) return false;
        sExpected = Md5(sHa1 + ":" + m_Nonce + ":" + *pNc + ":" + *pCnonce + ":" + *pQop + ":" + sHa2);
    }
    return !sExpected.empty() && LowerText(*pResponse) == sExpected;
}
