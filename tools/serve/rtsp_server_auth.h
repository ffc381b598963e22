// The server's check of a request's Authorization header: Basic, or Digest
// with MD5 (with qop=auth or without qop), against one user and password.
#pragma once

#include <string>

class CJXHTTPAuthen;

class CRtspServerAuth {
public:
    enum class Mode { kNone, kBasic, kDigest };

    // sNonce: the nonce of every Digest challenge (random per server).
    void Setup(Mode mode, const std::string& sUser, const std::string& sPassword, const std::string& sRealm,
               const std::string& sNonce);
    // True when the request may go on: no authentication asked for, or the
    // header (null: none) proves the user and password for this method.
    bool Check(const std::string& sMethod, const char* pAuthorization) const;
    // The WWW-Authenticate value of a 401.
    std::string Challenge() const;
    Mode GetMode() const { return m_Mode; }

private:
    bool CheckDigest(const std::string& sMethod, const CJXHTTPAuthen& given) const;

    Mode m_Mode = Mode::kNone;
    std::string m_User;
    std::string m_Password;
    std::string m_Realm;
    std::string m_Nonce;
};
