// Shared definitions of the base library: export macro, result codes, time record.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <winsock2.h>
#  include <windows.h>
#else
// A point of two signed 32-bit coordinates, as the Windows headers define it.
struct tagPOINT {
    int32_t x;
    int32_t y;
};
#endif

#if defined(_WIN32)
#  if defined(JXBASE_BUILD)
#    define JXBASE_API __declspec(dllexport)
#  else
// No dllimport: GNU ld imports the functions and data a user of the DLL needs
// by itself, and the class constants defined in the headers stay usable
// (under dllimport they would be looked for in the DLL, which does not export them).
#    define JXBASE_API
#  endif
#else
#  define JXBASE_API __attribute__((visibility("default")))
#endif

// Signed 32-bit results: 0 success, negative failure. Positive values are counts
// where an operation says so.
enum : int32_t {
    JX_OK = 0,
    JX_ERR_FAIL = -1,      // error status, failed socket call, malformed data
    JX_ERR_TIMEOUT = -2,   // no data in time
    JX_ERR_ARG = -4,       // invalid or missing argument or text
    JX_ERR_NOMEM = -6,     // allocation failed
    JX_ERR_STATE = -7,     // wrong state or nothing available
    JX_ERR_UNSUPPORTED = -10,
    JX_ERR_CONTENT = -15,   // malformed or unexpected content
    JX_ERR_AUTH = -16,      // authentication refused
};

// Calendar time of a frame, local time of the machine.
struct YRTIME {
    uint16_t wYear;
    uint16_t wMonth;   // 1..12
    uint16_t wDay;     // 1..31
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};
