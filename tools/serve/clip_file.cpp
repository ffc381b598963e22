// Clips are small files read once at start-up; a clip beyond the bound is
// refused rather than read, so a wrong --clip cannot exhaust memory.
#include "clip_file.h"

#include "JXBase.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
const char kProbeClip[] = "/sample.h264";   // present in every clips folder

bool FileExists(const std::string& sPath)
{
    FILE* pFile = fopen(sPath.c_str(), "rb");
    if (pFile == nullptr) return false;
    fclose(pFile);
    return true;
}
}   // namespace

int32_t JXReadClipFile(const std::string& sPath, std::vector<uint8_t>& out, std::string& sWhy)
{
    out.clear();
    FILE* pFile = fopen(sPath.c_str(), "rb");
    if (pFile == nullptr) {
        sWhy = sPath + ": " + strerror(errno);
        return JX_ERR_FAIL;
    }
    const size_t kChunk = 64 * 1024;
    size_t nHave = 0;
    for (;;) {
        if (nHave + kChunk > kMaxClipBytes) {
            fclose(pFile);
            sWhy = sPath + ": larger than the clip limit of " + std::to_string(kMaxClipBytes >> 20) + " MB";
            return JX_ERR_FAIL;
        }
        out.resize(nHave + kChunk);
        const size_t nRead = fread(out.data() + nHave, 1, kChunk, pFile);
        nHave += nRead;
        if (nRead < kChunk) break;
    }
    const bool bError = ferror(pFile) != 0;
    fclose(pFile);
    out.resize(nHave);
    if (bError) {
        sWhy = sPath + ": read error";
        return JX_ERR_FAIL;
    }
    if (nHave == 0) {
        sWhy = sPath + ": empty file";
        return JX_ERR_FAIL;
    }
    return JX_OK;
}

std::string JXFindClipDir()
{
    char dir[1024];
    if (JXModuleProgramDir(dir, sizeof(dir)) == JX_OK) {
        const std::string sBeside = std::string(dir) + "/clips";
        if (FileExists(sBeside + kProbeClip)) return sBeside;
#ifdef JX_BIN_TO_CLIPS
        const std::string sInstalled = std::string(dir) + "/" + JX_BIN_TO_CLIPS;
        if (FileExists(sInstalled + kProbeClip)) return sInstalled;
#endif
    }
#ifdef JX_CLIP_SOURCE_DIR
    if (FileExists(std::string(JX_CLIP_SOURCE_DIR) + kProbeClip)) return JX_CLIP_SOURCE_DIR;
#endif
    return std::string();
}
