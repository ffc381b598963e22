// Why a stream's last session attempt failed (CRTSPFailureNote).
#pragma once

#include "JXStream.h"

// The cause of a stream's last failed attempt. The worker stages what it
// learns while the attempt fails (an error status and its reason) and
// publishes the whole when the failure is reported; the host reads the
// published copy from any thread.
class JXRTSP_API CRTSPFailureNote {
public:
    // Worker: a detail that the report of this failure is to carry.
    void Stage(int32_t nPhase, int32_t nCause, int32_t nStatus, const char* pReason);
    bool HasStaged() const { return m_HasStaged; }
    // Worker: publish the staged failure, else the one given (its m_Reason
    // and m_Text are filled here from pReason); one more failed attempt.
    void Publish(int32_t nPhase, int32_t nCause, int32_t nStatus, int32_t nSysError, const char* pReason);
    // Worker: the stream plays; the last failure stays, marked old.
    void MarkPlayed();
    // Any thread: a copy of the published failure.
    void Read(CJXStreamFailure& out) const;

    // The phase as the failure's words begin: "connect", "DESCRIBE",
    // "SETUP", "PLAY", "keep-alive", "receiving".
    static const char* PhaseWords(int32_t nPhase);
    // The network failure (a JX_NET_ERR_* value) in words.
    static const char* NetworkWords(int32_t nKind);
    // Fill m_Reason (pReason bounded, printable only) and m_Text from the codes.
    static void Compose(CJXStreamFailure& failure, const char* pReason);

private:
    CJXStreamFailure m_Staged;   // worker only
    bool m_HasStaged = false;
    mutable CJXMutex m_Mutex;   // guards m_Last against the host's reads
    CJXStreamFailure m_Last;
};
