#include "record_files.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

const int kMaxNameNumber = 10000;
const char kTempSuffix[] = ".tmp";

// 0, or errno (EEXIST when a file of that name is there already).
int CreateEmptyFile(const std::string& sPath)
{
#ifdef _WIN32
    const int nFd = _open(sPath.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (nFd < 0) return errno;
    _close(nFd);
#else
    const int nFd = open(sPath.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
    if (nFd < 0) return errno;
    close(nFd);
#endif
    return 0;
}

bool RenameOver(const std::string& sFrom, const std::string& sTo)
{
#ifdef _WIN32
    // rename() will not replace an existing file there.
    return MoveFileExA(sFrom.c_str(), sTo.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return rename(sFrom.c_str(), sTo.c_str()) == 0;
#endif
}

}   // namespace

int MakeDir(const std::string& sPath)
{
#ifdef _WIN32
    const int nRet = _mkdir(sPath.c_str());
#else
    const int nRet = mkdir(sPath.c_str(), 0755);
#endif
    return nRet == 0 ? 0 : errno;
}

bool MakeDirs(const std::string& sPath)
{
    for (size_t nAt = 1; nAt <= sPath.size(); ++nAt) {
        if (nAt != sPath.size() && sPath[nAt] != '/' && sPath[nAt] != '\\') continue;
        const int nError = MakeDir(sPath.substr(0, nAt));
        if (nError != 0 && nError != EEXIST) return false;
    }
    return true;
}

std::string TakeName(const std::string& sBase, const char* pExt, bool bFolder)
{
    const size_t nSlash = sBase.find_last_of("/\\");
    if (nSlash != std::string::npos && nSlash != 0 && !MakeDirs(sBase.substr(0, nSlash))) return std::string();
    for (int n = 1; n <= kMaxNameNumber; ++n) {
        const std::string sPath = sBase + (n == 1 ? "" : "-" + std::to_string(n)) + pExt;
        const int nError = bFolder ? MakeDir(sPath) : CreateEmptyFile(sPath);
        if (nError == 0) return sPath;
        if (nError != EEXIST) break;
    }
    return std::string();
}

namespace {
std::atomic<bool> g_FreedMemoryWaits{false};
}

void AskToReturnFreedMemory()
{
    g_FreedMemoryWaits.store(true, std::memory_order_relaxed);
}

void ReturnFreedMemoryIfAsked()
{
    if (!g_FreedMemoryWaits.exchange(false, std::memory_order_relaxed)) return;
#ifdef __GLIBC__
    malloc_trim(0);   // every arena, the worker's included
#endif
}

bool ReplaceFileText(const std::string& sPath, const std::string& sText)
{
    const std::string sTemp = sPath + kTempSuffix;
    FILE* pFile = fopen(sTemp.c_str(), "wb");
    if (pFile == nullptr) return false;
    const bool bWritten = fwrite(sText.data(), 1, sText.size(), pFile) == sText.size();
    if (fclose(pFile) != 0 || !bWritten || !RenameOver(sTemp, sPath)) {
        remove(sTemp.c_str());
        return false;
    }
    return true;
}

CLogFile::CLogFile(const std::string& sPath, uint64_t nMaxBytes, int nKeep)
    : m_Path(sPath), m_MaxBytes(nMaxBytes), m_Keep(nKeep)
{
    Open();
}

CLogFile::~CLogFile()
{
    if (m_File != nullptr) fclose(m_File);
}

void CLogFile::Open()
{
    m_File = fopen(m_Path.c_str(), "ab");
    if (m_File == nullptr) return;
    setvbuf(m_File, nullptr, _IOLBF, BUFSIZ);
    // An earlier run's log counts towards the size.
    struct stat info;
    m_Bytes = stat(m_Path.c_str(), &info) == 0 ? uint64_t(info.st_size) : 0;
}

void CLogFile::Rotate()
{
    fclose(m_File);
    m_File = nullptr;
    remove((m_Path + "." + std::to_string(m_Keep)).c_str());
    for (int n = m_Keep - 1; n >= 1; --n)
        RenameOver(m_Path + "." + std::to_string(n), m_Path + "." + std::to_string(n + 1));
    if (m_Keep >= 1) RenameOver(m_Path, m_Path + ".1");
    remove(m_Path.c_str());   // nKeep 0: the log starts again
    Open();
}

void CLogFile::Write(const char* pLine)
{
    if (m_File == nullptr) return;
    const size_t nLength = strlen(pLine);
    if (m_Bytes != 0 && m_Bytes + nLength > m_MaxBytes) {
        Rotate();
        if (m_File == nullptr) return;
    }
    if (fwrite(pLine, 1, nLength, m_File) == nLength) m_Bytes += nLength;
}

void CLogFile::Sink(const char* pLine, void* pUser)
{
    static_cast<CLogFile*>(pUser)->Write(pLine);
}
