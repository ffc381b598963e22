// Loading a module at run time, as a host does: the platform's dynamic loader
// (dlopen on Linux, LoadLibrary on Windows) behind one small interface.
#pragma once

#include "JXBaseDefs.h"

extern "C" {
// The platform's file name of a module built as pName ("JXRtsp" gives
// "libJXRtsp.so" or "JXRtsp.dll").
JXBASE_API const char* JXModuleFileName(const char* pName, char* pOut, int32_t nOut);
// Load a module; a handle, or null with the loader's reason in pError.
JXBASE_API void* JXModuleLoad(const char* pPath, char* pError, int32_t nError);
// An exported symbol of a loaded module, or null.
JXBASE_API void* JXModuleSymbol(void* pModule, const char* pName);
JXBASE_API void JXModuleUnload(void* pModule);
// The folder of the running program, without a trailing separator; 0 or
// JX_ERR_FAIL.
JXBASE_API int32_t JXModuleProgramDir(char* pOut, int32_t nOut);
}
