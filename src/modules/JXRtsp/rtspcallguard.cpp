// Calls of a stream on this thread, and what waits for them to return.
#include "rtspcallguard.h"

namespace {

// The calls running on this thread, innermost first.
thread_local CRTSPCallGuard::CScope* t_Calls = nullptr;

}   // namespace

CRTSPCallGuard::CScope::CScope(const CRTSPCallGuard& guard, bool bPass)
    : m_Guard(&guard), m_Pass(bPass), m_Outer(t_Calls)
{
    t_Calls = this;
}

CRTSPCallGuard::CScope::~CScope()
{
    t_Calls = m_Outer;
}

bool CRTSPCallGuard::InCall() const
{
    for (const CScope* p = t_Calls; p != nullptr; p = p->m_Outer) {
        if (p->m_Guard == this) return true;
    }
    return false;
}

// A report inside a pass adds a scope of its own: the pass is looked for
// over all of them.
bool CRTSPCallGuard::InPass() const
{
    for (const CScope* p = t_Calls; p != nullptr; p = p->m_Outer) {
        if (p->m_Guard == this && p->m_Pass) return true;
    }
    return false;
}

uint32_t CRTSPCallGuard::FinishDeferred()
{
    uint32_t nTodo = kFinishNothing;
    if (m_StopPending.exchange(false)) nTodo |= kFinishEndSession;
    if (m_DeletePending) nTodo |= kFinishDelete;
    return nTodo;
}
