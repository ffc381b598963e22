// Export macro of the module: every class is exported, so other modules and
// the tests can use them.
#pragma once

#include "JXBase.h"

#if defined(_WIN32)
#  if defined(JXRTSP_BUILD)
#    define JXRTSP_API __declspec(dllexport)
#  else
// No dllimport: GNU ld imports the functions and data a user of the DLL needs
// by itself, and the class constants defined in the headers stay usable
// (under dllimport they would be looked for in the DLL, which does not export them).
#    define JXRTSP_API
#  endif
#else
#  define JXRTSP_API __attribute__((visibility("default")))
#endif
