// Re-entrancy of a stream's own callbacks (CRTSPCallGuard).
#pragma once

#include "JXRtspDefs.h"

#include <atomic>

// Guards a stream against being stopped or released from inside a call that
// is still using it. The rules, in one place:
// - A call is a pass of the worker over the stream, or one walk over its
//   subscribers (a state report, which may come from Start or Open on the
//   host's thread). Each is entered with a CScope on the calling thread;
//   scopes nest (a report inside a pass adds its own).
// - Stop from inside the stream's pass does not end the session there: the
//   stop is deferred (DeferStop), the stream sends nothing more to its
//   subscribers, reads no further units, and no other pass follows; the
//   session ends when the pass unwinds (FinishDeferred). A Start inside that
//   same pass is refused.
// - Release from inside any call of the stream defers the delete
//   (DeferRelease): the object goes when the outermost call has returned,
//   at the end of the pass or of the report.
// - Stop and Release from any other call, or from no call, act at once.
// The scopes are per thread; the two deferred flags are read by the host's
// thread too.
class JXRTSP_API CRTSPCallGuard {
public:
    // What the end of a pass still has to do.
    enum : uint32_t {
        kFinishNothing = 0,
        kFinishEndSession = 1,   // a stop was asked for inside the pass
        kFinishDelete = 2,       // a release was asked for inside a call
    };

    class CScope {
    public:
        CScope(const CRTSPCallGuard& guard, bool bPass);
        ~CScope();
        CScope(const CScope&) = delete;
        CScope& operator=(const CScope&) = delete;

    private:
        const CRTSPCallGuard* m_Guard;
        bool m_Pass;
        CScope* m_Outer;
        friend class CRTSPCallGuard;
    };

    // Whether this thread is inside any call of the stream, or inside its pass.
    bool InCall() const;
    bool InPass() const;

    void DeferStop() { m_StopPending = true; }
    bool IsStopDeferred() const { return m_StopPending; }
    void DeferRelease() { m_DeletePending = true; }
    bool IsReleaseDeferred() const { return m_DeletePending; }
    // At the end of a pass: what is left to do (kFinish* bits); the deferred
    // stop is taken.
    uint32_t FinishDeferred();

private:
    std::atomic<bool> m_StopPending{false};
    std::atomic<bool> m_DeletePending{false};
};
