// The log. Each call becomes one finished line (time stamp, text, line feed)
// that is handed whole to the sink or written to standard error with a single
// write, so lines from different threads never interleave.
#include "JXPrintf.h"

#include "JXTime.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(_WIN32)
#  include <io.h>
#else
#  include <unistd.h>
#endif

namespace {
// Longest line handed out, NUL included; longer texts are cut.
constexpr size_t kMaxLine = 4096;

// Held while the sink is changed and while it is called, so that once
// JXSetLogSink returns the old sink is not called any more. Recursive so that
// a sink which logs does not deadlock.
std::recursive_mutex& SinkMutex()
{
    static std::recursive_mutex s_Mutex;
    return s_Mutex;
}
JXLogSink s_Sink = nullptr;
void* s_SinkUser = nullptr;

// Length of the first n bytes without a UTF-8 sequence cut in its middle.
size_t CutUtf8(const char* pText, size_t n)
{
    size_t nBack = 0;
    while (nBack < 3 && nBack < n && (static_cast<unsigned char>(pText[n - 1 - nBack]) & 0xC0) == 0x80) {
        ++nBack;
    }
    if (nBack == n) {
        return n;
    }
    const unsigned char nLead = static_cast<unsigned char>(pText[n - 1 - nBack]);
    size_t nWant = 1;
    if ((nLead & 0xE0) == 0xC0) {
        nWant = 2;
    } else if ((nLead & 0xF0) == 0xE0) {
        nWant = 3;
    } else if ((nLead & 0xF8) == 0xF0) {
        nWant = 4;
    }
    if (nWant > 1 && nBack + 1 < nWant) {
        return n - 1 - nBack;   // incomplete sequence at the end: drop it
    }
    return n;
}

void WriteStdErr(const char* pLine, size_t n)
{
#if defined(_WIN32)
    _write(2, pLine, static_cast<unsigned int>(n));
#else
    while (n > 0) {
        ssize_t nDone = write(2, pLine, n);
        if (nDone <= 0) {
            return;
        }
        pLine += nDone;
        n -= static_cast<size_t>(nDone);
    }
#endif
}
}   // namespace

extern "C" JXBASE_API void JXVPrintf(const char* pFormat, va_list args)
{
    if (pFormat == nullptr) {
        return;
    }
    char szLine[kMaxLine];
    CJXTime now;
    now.SetTime();
    YRTIME t{};
    now.GetTime(t);
    int nHead = snprintf(szLine, sizeof(szLine), "%04u-%02u-%02u %02u:%02u:%02u.%03u ", t.wYear, t.wMonth, t.wDay,
                         t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    if (nHead < 0 || static_cast<size_t>(nHead) >= sizeof(szLine)) {
        nHead = 0;
    }
    // Leave room for the line feed and the NUL.
    const size_t nRoom = sizeof(szLine) - 1 - static_cast<size_t>(nHead);
    int nText = vsnprintf(szLine + nHead, nRoom, pFormat, args);
    if (nText < 0) {
        nText = 0;
    }
    size_t nLength = static_cast<size_t>(nHead);
    if (static_cast<size_t>(nText) >= nRoom) {
        nLength += CutUtf8(szLine + nHead, nRoom - 1);
    } else {
        nLength += static_cast<size_t>(nText);
    }
    if (nLength == 0 || szLine[nLength - 1] != '\n') {
        szLine[nLength++] = '\n';
    }
    szLine[nLength] = '\0';

    std::lock_guard<std::recursive_mutex> lock(SinkMutex());
    if (s_Sink != nullptr) {
        s_Sink(szLine, s_SinkUser);
        return;
    }
    WriteStdErr(szLine, nLength);
}

extern "C" JXBASE_API void JXPrintf(const char* pFormat, ...)
{
    va_list args;
    va_start(args, pFormat);
    JXVPrintf(pFormat, args);
    va_end(args);
}

extern "C" JXBASE_API void JXSetLogSink(JXLogSink pSink, void* pUser)
{
    std::lock_guard<std::recursive_mutex> lock(SinkMutex());
    s_Sink = pSink;
    s_SinkUser = pUser;
}

extern "C" JXBASE_API void JXAbort()
{
    abort();
}
