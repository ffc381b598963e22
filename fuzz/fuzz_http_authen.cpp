// Arbitrary challenge text for the authentication reader, alone and as the
// joined WWW-Authenticate value of a response head; every challenge taken
// yields an Authorization value that stays on one header line.
#include "JXHTTPAuthen.h"
#include "JXHTTPCommand.h"
#include "rtspcommand.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool bOk)
{
    if (!bOk) __builtin_trap();
}

void CheckValue(const char* p)
{
    if (p != nullptr) Check(strlen(p) <= size_t(CJXHTTPAuthen::kMaxValueBytes));
}

void ParseOne(CRTSPAuthen& auth, const char* pText)
{
    int32_t nRet = auth.ParseResponse(pText);
    Check(nRet == 0 || nRet == JX_ERR_CONTENT);
    if (nRet != 0) {
        Check(auth.m_Scheme == CJXHTTPAuthen::kSchemeBasic && auth.m_Realm == nullptr && auth.m_Nonce == nullptr);
        return;
    }
    Check(auth.m_Scheme == CJXHTTPAuthen::kSchemeBasic || auth.m_Scheme == CJXHTTPAuthen::kSchemeDigest);
    if (auth.m_Scheme == CJXHTTPAuthen::kSchemeBasic) Check(auth.m_Nonce == nullptr && auth.m_Opaque == nullptr);
    CheckValue(auth.m_Realm);
    CheckValue(auth.m_Nonce);
    CheckValue(auth.m_Opaque);
    CheckValue(auth.m_Qop);
    CheckValue(auth.m_Algorithm);
    CJXString value;
    Check(auth.BuildRequest(value, "DESCRIBE", "rtsp://h/s") == JX_OK);
    Check(strpbrk(value.c_str(), "\r\n") == nullptr);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    // Exact-size NUL-ended copy: a read past the NUL faults.
    char* pText = static_cast<char*>(malloc(nSize + 1));
    memcpy(pText, pData, nSize);
    pText[nSize] = '\0';
    CRTSPAuthen auth;
    auth.SetUser("user", "password");
    ParseOne(auth, pText);
    ParseOne(auth, pText);   // a second challenge replaces the first

    // The same text as two WWW-Authenticate lines of a 401.
    std::string head = "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: ";
    head.append(pText);
    head += "\r\nWWW-Authenticate: ";
    head.append(pText);
    head += "\r\n\r\n";
    CJXHTTPCommand cmd;
    if (cmd.ParseResponse(head.data(), int32_t(head.size())) > 0 && cmd.m_WWWAuthenticate != nullptr) {
        ParseOne(auth, cmd.m_WWWAuthenticate);
    }
    free(pText);
    return 0;
}
