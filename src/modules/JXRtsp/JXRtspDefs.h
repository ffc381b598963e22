// Export macro of the module: every class is exported, so other modules and
// the tests can use them.
#pragma once

#include "JXBase.h"

#if defined(_WIN32)
#  if defined(JXRTSP_BUILD)
#    define JXRTSP_API __declspec(dllexport)
#  else
#    define JXRTSP_API __declspec(dllimport)
#  endif
#else
#  define JXRTSP_API __attribute__((visibility("default")))
#endif
