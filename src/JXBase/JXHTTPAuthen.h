// Credentials and the server's authentication challenge (Basic or Digest).
#pragma once

#include "JXObject.h"

class JXBASE_API CJXHTTPAuthen : public CJXObject {
public:
    static constexpr uint32_t kSchemeBasic = 0;
    static constexpr uint32_t kSchemeDigest = 1;
    static constexpr int32_t kMaxChallengeBytes = 8192;   // a longer challenge text is refused
    static constexpr int32_t kMaxValueBytes = 1024;       // a longer parameter value is refused
    // Digest algorithms computed here (the algorithm parameter, any letter case).
    static constexpr uint32_t kDigestMD5 = 0;   // also when the challenge names none
    static constexpr uint32_t kDigestMD5Sess = 1;
    static constexpr uint32_t kDigestSHA256 = 2;
    static constexpr uint32_t kDigestSHA256Sess = 3;
    static constexpr uint32_t kDigestUnknown = 4;   // never chosen

    CJXHTTPAuthen();
    ~CJXHTTPAuthen() override;
    CJXHTTPAuthen(const CJXHTTPAuthen&) = delete;
    CJXHTTPAuthen& operator=(const CJXHTTPAuthen&) = delete;

    // Forget credentials and challenge; the scheme goes back to Basic.
    void Reset();
    // Keep copies of user and password (null allowed). 0 or JX_ERR_NOMEM.
    int32_t SetUser(const char* pUser, const char* pPassword);
    // Read a WWW-Authenticate value: one or more challenges, Basic and/or Digest,
    // parameters in any order, quoted strings with commas and escaped quotes,
    // unknown parameters and schemes ignored, names in any letter case. The
    // best offer is kept: a Digest with a nonce and algorithm SHA-256 or
    // SHA-256-sess, then one with MD5, MD5-sess or no algorithm, then Basic,
    // then a computable Digest without nonce; among equals the first. A Digest
    // whose algorithm is not computed here is never taken. 0 when understood
    // (scheme, realm, nonce, the Digest extras and m_DigestAlgorithm kept),
    // JX_ERR_ARG for null text, JX_ERR_CONTENT when the text is malformed
    // (unterminated quote, missing value, overlong) or offers no usable
    // challenge; the previous challenge is forgotten in every case.
    int32_t ParseResponse(const char* pChallenge);
    // Read an Authorization value, the server's side: "Basic" and the Base64
    // of user:password (user and password kept), or "Digest" and its
    // parameters (username as the user; realm, nonce, opaque, qop, algorithm,
    // uri, response, cnonce and nc kept as sent). 0 when understood,
    // JX_ERR_ARG for null text, JX_ERR_CONTENT when malformed, overlong, of
    // another scheme or naming a parameter twice; the previous values are
    // forgotten in every case.
    int32_t ParseRequest(const char* pCredentials);

    uint32_t m_Scheme = kSchemeBasic;
    char* m_User = nullptr;
    char* m_Password = nullptr;
    char* m_Realm = nullptr;
    char* m_Nonce = nullptr;
    char* m_Opaque = nullptr;
    char* m_Qop = nullptr;         // the server's qop list as offered, e.g. "auth,auth-int"
    char* m_Algorithm = nullptr;   // as the server wrote it, null when it named none
    uint32_t m_DigestAlgorithm = kDigestMD5;
    bool m_Stale = false;
    uint32_t m_NonceCount = 0;   // nc of the last Digest answer with qop
    // Of a Digest answer read by ParseRequest; null otherwise.
    char* m_Uri = nullptr;
    char* m_Response = nullptr;
    char* m_CNonce = nullptr;
    char* m_NonceCountText = nullptr;   // nc as sent (hashed as written)

private:
    void ClearChallenge();
};
