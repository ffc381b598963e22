// Run-time module loading, the one place that knows the platform's loader.
#include "JXModule.h"

#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#else
#  include <dlfcn.h>
#  include <unistd.h>
#endif

namespace {

void CopyText(char* pOut, int32_t nOut, const char* pText)
{
    if (pOut == nullptr || nOut < 1) return;
    snprintf(pOut, size_t(nOut), "%s", pText != nullptr ? pText : "");
}

}   // namespace

extern "C" JXBASE_API const char* JXModuleFileName(const char* pName, char* pOut, int32_t nOut)
{
    if (pName == nullptr || pOut == nullptr || nOut < 1) return nullptr;
#if defined(_WIN32)
    snprintf(pOut, size_t(nOut), "%s.dll", pName);
#else
    snprintf(pOut, size_t(nOut), "lib%s.so", pName);
#endif
    return pOut;
}

extern "C" JXBASE_API void* JXModuleLoad(const char* pPath, char* pError, int32_t nError)
{
    CopyText(pError, nError, "");
    if (pPath == nullptr || pPath[0] == '\0') {
        CopyText(pError, nError, "no module path");
        return nullptr;
    }
#if defined(_WIN32)
    HMODULE hModule = LoadLibraryA(pPath);
    if (hModule == nullptr) {
        char text[64];
        snprintf(text, sizeof(text), "LoadLibrary failed, error %lu", GetLastError());
        CopyText(pError, nError, text);
    }
    return reinterpret_cast<void*>(hModule);
#else
    void* pModule = dlopen(pPath, RTLD_NOW | RTLD_LOCAL);
    if (pModule == nullptr) CopyText(pError, nError, dlerror());
    return pModule;
#endif
}

extern "C" JXBASE_API void* JXModuleSymbol(void* pModule, const char* pName)
{
    if (pModule == nullptr || pName == nullptr) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(pModule), pName));
#else
    return dlsym(pModule, pName);
#endif
}

extern "C" JXBASE_API void JXModuleUnload(void* pModule)
{
    if (pModule == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(pModule));
#else
    dlclose(pModule);
#endif
}

extern "C" JXBASE_API int32_t JXModuleProgramDir(char* pOut, int32_t nOut)
{
    if (pOut == nullptr || nOut < 2) return JX_ERR_ARG;
#if defined(_WIN32)
    DWORD n = GetModuleFileNameA(nullptr, pOut, DWORD(nOut));
    if (n == 0 || n >= DWORD(nOut)) return JX_ERR_FAIL;
    const char kSeparators[] = "\\/";
#else
    ssize_t n = readlink("/proc/self/exe", pOut, size_t(nOut - 1));
    if (n <= 0 || n >= nOut - 1) return JX_ERR_FAIL;
    pOut[n] = '\0';
    const char kSeparators[] = "/";
#endif
    char* pCut = nullptr;
    for (char* p = pOut; *p != '\0'; ++p) {
        if (strchr(kSeparators, *p) != nullptr) pCut = p;
    }
    if (pCut == nullptr) return JX_ERR_FAIL;
    *pCut = '\0';
    return JX_OK;
}
