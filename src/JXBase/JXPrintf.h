// The log: one line per call, time-stamped, to standard error unless the host
// installs its own sink.
#pragma once

#include "JXBaseDefs.h"

#include <cstdarg>

// pLine is the finished line (time stamp, text, line feed), NUL-ended.
typedef void (*JXLogSink)(const char* pLine, void* pUser);

extern "C" {
JXBASE_API void JXPrintf(const char* pFormat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
JXBASE_API void JXVPrintf(const char* pFormat, va_list args);
// Install a sink (null restores standard error). Thread-safe.
JXBASE_API void JXSetLogSink(JXLogSink pSink, void* pUser);
}

// A null pointer that valid input cannot produce: log where, then abort.
#define JX_ASSERT_PTR(p, file, func)                                                                                   \
  do {                                                                                                                 \
    if ((p) == nullptr) {                                                                                              \
      JXPrintf("%s====>(Func = %s, line = %d)\n", (file), (func), __LINE__);                                           \
      JXAbort();                                                                                                       \
    }                                                                                                                  \
  } while (0)
extern "C" JXBASE_API void JXAbort();
