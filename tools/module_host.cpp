#include "module_host.h"

#include "JXBase.h"

#include <cstdio>
#include <cstdlib>

namespace {

const size_t kPathBytes = 1024;
const size_t kNameBytes = 64;
const size_t kErrorBytes = 512;

#ifdef JX_BIN_TO_LIB
bool IsFile(const std::string& sPath)
{
    FILE* pFile = fopen(sPath.c_str(), "rb");
    if (pFile == nullptr) return false;
    fclose(pFile);
    return true;
}
#endif

// Beside the program (the build tree, and Windows, where libraries go with
// the programs), else where an install puts libraries relative to programs.
std::string DefaultModulePath()
{
    char dir[kPathBytes];
    char name[kNameBytes];
    JXModuleFileName("JXRtsp", name, sizeof(name));
    if (JXModuleProgramDir(dir, sizeof(dir)) != JX_OK) return name;
    const std::string sBeside = std::string(dir) + "/" + name;
#ifdef JX_BIN_TO_LIB
    const std::string sInstalled = std::string(dir) + "/" + JX_BIN_TO_LIB + "/" + name;
    if (!IsFile(sBeside) && IsFile(sInstalled)) return sInstalled;
#endif
    return sBeside;
}

}   // namespace

std::string UrlForLog(const char* pUrl)
{
    CJXUrl url(pUrl);
    char* pShown = url.CloneForLog();   // never print the password
    if (pShown != nullptr) {
        std::string s = pShown;
        free(pShown);
        return s;
    }
    // A URL the reader refuses is still shown, for the user to find it, with
    // whatever stands between the first ':' and the last '@' of its authority
    // taken for a password.
    std::string s = pUrl != nullptr ? pUrl : "";
    const size_t nSep = s.find("://");
    const size_t nAuthority = nSep == std::string::npos ? 0 : nSep + 3;
    const size_t nAt = s.rfind('@', s.find('/', nAuthority));
    const size_t nColon = s.find(':', nAuthority);
    if (nAt != std::string::npos && nAt >= nAuthority && nColon < nAt) s.replace(nColon + 1, nAt - nColon - 1, "***");
    return s;
}

CModuleHost::~CModuleHost()
{
    Unload();
}

int32_t CModuleHost::Load(const std::string& sPath)
{
    m_Path = sPath.empty() ? DefaultModulePath() : sPath;
    char error[kErrorBytes];
    m_Module = JXModuleLoad(m_Path.c_str(), error, sizeof(error));
    if (m_Module == nullptr) {
        fprintf(stderr, "jxrtsp: cannot load %s: %s\n", m_Path.c_str(), error);
        return JX_ERR_FAIL;
    }
    auto pGetAPI = reinterpret_cast<JXRTSPGetAPIFunc>(JXModuleSymbol(m_Module, "JXRTSPGetAPI"));
    if (pGetAPI == nullptr || pGetAPI(m_Table) != JX_OK || m_Table[JXRTSP_API_GETINTERFACE] == nullptr ||
        m_Table[JXRTSP_API_INITIALIZE] == nullptr || m_Table[JXRTSP_API_INVALIDATE] == nullptr) {
        fprintf(stderr, "jxrtsp: %s has no usable JXRTSPGetAPI\n", m_Path.c_str());
        JXModuleUnload(m_Module);
        m_Module = nullptr;
        return JX_ERR_FAIL;
    }
    reinterpret_cast<JXRTSPInitializeFunc>(m_Table[JXRTSP_API_INITIALIZE])();
    return JX_OK;
}

IJXStream* CModuleHost::CreateStream(const char* pUrl)
{
    if (m_Module == nullptr) return nullptr;
    auto pGetInterface = reinterpret_cast<JXRTSPGetInterfaceFunc>(m_Table[JXRTSP_API_GETINTERFACE]);
    IJXStream* pStream = pGetInterface("IJXStream", pUrl);
    if (pStream == nullptr) fprintf(stderr, "jxrtsp: the module refused the URL %s\n", UrlForLog(pUrl).c_str());
    return pStream;
}

void CModuleHost::Unload()
{
    if (m_Module == nullptr) return;
    reinterpret_cast<JXRTSPInvalidateFunc>(m_Table[JXRTSP_API_INVALIDATE])();
    JXModuleUnload(m_Module);
    m_Module = nullptr;
}
