// Files and folders of a recording: folders made with their parents, names
// taken without writing over anything, a file replaced whole, and the
// module's log kept to a bounded size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// 0, or errno (EEXIST when the folder is there already).
int MakeDir(const std::string& sPath);
// The folder and its parents; true when it exists afterwards.
bool MakeDirs(const std::string& sPath);
// Takes sBase + sExt, or sBase-2 + sExt, -3 ... when taken (by another stream
// of this run or an earlier recording), creating it empty at once: a folder
// when bFolder, else a file. Its parents are made. Empty on failure.
std::string TakeName(const std::string& sBase, const char* pExt, bool bFolder);
// Memory the program freed goes back to the system where the C library holds
// on to it (glibc keeps freed blocks of each thread's arena): a closed file's
// muxer buffers would otherwise stay with the process as fragments. A
// segment's close only asks for it (it runs on the module's worker, which a
// slow trim would hold up for every stream); the recorder's own loop does it.
void AskToReturnFreedMemory();
void ReturnFreedMemoryIfAsked();
// sText into sPath through a temporary file beside it, renamed over sPath:
// a reader (or a crash) never sees a half-written file.
bool ReplaceFileText(const std::string& sPath, const std::string& sText);

// The module's log, appended to a file and rotated by size: PATH grows to
// nMaxBytes, then becomes PATH.1 (PATH.1 becomes PATH.2 ..., the oldest of
// nKeep is removed), so a camera that fails for months leaves at most
// (nKeep + 1) * nMaxBytes. Lines come one at a time (the log serializes its sink).
class CLogFile {
public:
    CLogFile(const std::string& sPath, uint64_t nMaxBytes, int nKeep);
    ~CLogFile();
    bool IsOpen() const { return m_File != nullptr; }
    void Write(const char* pLine);
    // The log's sink: pUser is a CLogFile.
    static void Sink(const char* pLine, void* pUser);

private:
    void Open();
    void Rotate();

    std::string m_Path;
    uint64_t m_MaxBytes;
    int m_Keep;
    FILE* m_File = nullptr;
    uint64_t m_Bytes = 0;
};
