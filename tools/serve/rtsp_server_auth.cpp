// The Authorization value is read by the base library (CJXHTTPAuthen); here
// Digest answers are computed with its MD5 and compared whole. A value that
// cannot be read is a refusal, never a pass.
#include "rtsp_server_auth.h"

#include "JXBase.h"

#include <cstring>

namespace {
const char kBasic[] = "Basic";
const char kDigest[] = "Digest";
const char kQopAuth[] = "auth";

std::string Md5(const std::string& s)
{
    char hex[JX_MD5_HEX_SIZE];
    if (JXMD5Data(s.data(), int32_t(s.size()), hex) != JX_OK) return std::string();
    return hex;
}

// Null-safe text equality.
bool Same(const char* p, const std::string& s)
{
    return p != nullptr && s == p;
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
    CJXHTTPAuthen given;
    if (pAuthorization == nullptr || given.ParseRequest(pAuthorization) != JX_OK) return false;
    if (m_Mode == Mode::kBasic) {
        return given.m_Scheme == CJXHTTPAuthen::kSchemeBasic && Same(given.m_User, m_User) &&
               Same(given.m_Password, m_Password);
    }
    return given.m_Scheme == CJXHTTPAuthen::kSchemeDigest && CheckDigest(sMethod, given);
}

bool CRtspServerAuth::CheckDigest(const std::string& sMethod, const CJXHTTPAuthen& given) const
{
    if (given.m_Uri == nullptr || given.m_Response == nullptr) return false;
    if (!Same(given.m_User, m_User) || !Same(given.m_Realm, m_Realm) || !Same(given.m_Nonce, m_Nonce)) return false;
    if (given.m_DigestAlgorithm != CJXHTTPAuthen::kDigestMD5) return false;
    const std::string sHa1 = Md5(m_User + ":" + m_Realm + ":" + m_Password);
    const std::string sHa2 = Md5(sMethod + ":" + given.m_Uri);
    std::string sExpected;
    if (given.m_Qop == nullptr) {
        sExpected = Md5(sHa1 + ":" + m_Nonce + ":" + sHa2);
    } else {
        const size_t nQop = strlen(given.m_Qop);
        if (!CJXString::EqualNoCase(given.m_Qop, int32_t(nQop), kQopAuth) || given.m_NonceCountText == nullptr ||
            given.m_CNonce == nullptr) {
            return false;
        }
        sExpected = Md5(sHa1 + ":" + m_Nonce + ":" + given.m_NonceCountText + ":" + given.m_CNonce + ":" +
                        given.m_Qop + ":" + sHa2);
    }
    const size_t nResponse = strlen(given.m_Response);
    return !sExpected.empty() && CJXString::EqualNoCase(given.m_Response, int32_t(nResponse), sExpected.c_str());
}
