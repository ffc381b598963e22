// Root of the class tree: every class with virtual operations derives from it.
#pragma once

#include "JXBaseDefs.h"

class JXBASE_API CJXObject {
public:
    CJXObject() = default;
    virtual ~CJXObject() = default;
};

// A subscriber or worker member function: an object and one of its members.
// The pool and the signal call it through this pointer type, so handlers are
// declared in a class derived from CJXObject and cast with JX_MEMBER.
class CJXMessageT;
typedef int (CJXObject::*JXSignalFunc)(CJXObject* pSender, uint32_t nCode, void* pParam1, void* pParam2);
typedef int (CJXObject::*JXWorkFunc)(CJXMessageT* pMsg, unsigned int nValue, unsigned int& nWait);
#define JX_SIGNAL_FUNC(f) static_cast<JXSignalFunc>(f)
#define JX_WORK_FUNC(f) static_cast<JXWorkFunc>(f)
