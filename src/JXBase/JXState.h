// State reports handed to subscribers.
#pragma once

#include "JXUrl.h"

class JXBASE_API IJXState : public CJXObject {
public:
    IJXState() = default;
    void SetError(int32_t nError) { m_Error = nError; }
    int32_t GetError() const { return m_Error; }

protected:
    int32_t m_Error = 0;
};

class JXBASE_API CJXMsg : public IJXState {
public:
    CJXMsg() = default;
    CJXUrl m_Url;
    int64_t m_Value1 = 0;
    int64_t m_Value2 = 0;
};
