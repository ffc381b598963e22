// Loads the module at run time exactly as a host does: the platform's loader,
// JXRTSPGetAPI, the function table, JXRTSPGetInterface. Nothing of the
// module's classes is linked; streams are reached through IJXStream's slots.
#pragma once

#include "jxrtsp.h"

#include <string>

class CModuleHost {
public:
    CModuleHost() = default;
    ~CModuleHost();
    CModuleHost(const CModuleHost&) = delete;
    CModuleHost& operator=(const CModuleHost&) = delete;

    // Loads the module at sPath (empty: the one beside this program) and calls
    // its JXRTSPInitialize. Prints why on failure.
    int32_t Load(const std::string& sPath);
    // A new stream object for the URL, or null (the module refused it; the
    // reason is printed without the URL's password).
    IJXStream* CreateStream(const char* pUrl);
    // JXRTSPInvalidate, then unload. Every stream must be released before.
    void Unload();
    const std::string& GetPath() const { return m_Path; }

private:
    std::string m_Path;
    void* m_Module = nullptr;
    void* m_Table[JXRTSP_API_COUNT] = {};
};

// The URL with the password replaced, for anything printed.
std::string UrlForLog(const char* pUrl);
