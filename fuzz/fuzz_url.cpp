// Arbitrary URL text: parse, copy, mask for logs; the parts must be consistent.
#include "JXUrl.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void Check(bool bOk)
{
    if (!bOk) __builtin_trap();
}

bool Same(const char* a, const char* b)
{
    return (a == nullptr && b == nullptr) || (a != nullptr && b != nullptr && strcmp(a, b) == 0);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    char* pText = static_cast<char*>(malloc(nSize + 1));
    memcpy(pText, pData, nSize);
    pText[nSize] = '\0';

    CJXUrl url;
    int32_t nRet = url.Setup(pText);
    Check(nRet == 0 || nRet == JX_ERR_ARG);
    if (nRet != 0) {
        Check(url.m_Text == nullptr && url.m_Host == nullptr && url.m_Port == 0);
        Check(url.CloneForLog() == nullptr);
        free(pText);
        return 0;
    }
    Check(strcmp(url.m_Text, pText) == 0);
    Check(url.m_Host != nullptr && url.m_Host[0] != '\0');
    Check(url.m_Port >= 1);
    Check(url.m_Path == nullptr || url.m_Path[0] == '/');
    Check((url.m_Scheme != nullptr) == CJXUrl::IsAbsolute(pText));

    CJXUrl copy(url);
    Check(Same(copy.m_Text, url.m_Text) && Same(copy.m_Host, url.m_Host) && Same(copy.m_User, url.m_User) &&
          Same(copy.m_Password, url.m_Password) && Same(copy.m_Path, url.m_Path) && Same(copy.m_Query, url.m_Query) &&
          copy.m_Port == url.m_Port);

    char* pLog = url.CloneForLog();
    Check(pLog != nullptr);
    if (url.m_Password == nullptr)
        Check(strcmp(pLog, url.m_Text) == 0);
    else
        Check(strstr(pLog, ":***@") != nullptr);
    // The masked text is itself a URL with the same host, port and user.
    if (strlen(pLog) <= size_t(CJXUrl::kMaxTextBytes)) {
        CJXUrl masked(pLog);
        Check(masked.m_Host != nullptr && strcmp(masked.m_Host, url.m_Host) == 0 && masked.m_Port == url.m_Port);
    }
    free(pLog);

    url = url.m_Text;   // own text: copied before the old one is freed
    Check(Same(copy.m_Host, url.m_Host));
    free(pText);
    return 0;
}
