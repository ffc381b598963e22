// The cause of a stream's last failed attempt, in codes and in words.
#include "rtspfailure.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7E;

// pText into out (at most nBytes - 1 bytes and a NUL), every byte that is
// not printable ASCII written as '?': the reason phrase comes from the network.
void CopyPrintable(char* out, size_t nBytes, const char* pText)
{
    size_t n = 0;
    for (; pText != nullptr && pText[n] != '\0' && n + 1 < nBytes; ++n) {
        const unsigned char c = static_cast<unsigned char>(pText[n]);
        out[n] = c >= kFirstPrintable && c <= kLastPrintable ? char(c) : '?';
    }
    out[n] = '\0';
}

}   // namespace

const char* CRTSPFailureNote::PhaseWords(int32_t nPhase)
{
    switch (nPhase) {
    case JXRTSP_PHASE_CONNECTING:
        return "connect";
    case JXRTSP_PHASE_DESCRIBING:
        return "DESCRIBE";
    case JXRTSP_PHASE_SETTING_UP:
        return "SETUP";
    case JXRTSP_PHASE_PLAY:
        return "PLAY";
    case JXRTSP_PHASE_KEEP_ALIVE:
        return "keep-alive";
    case JXRTSP_PHASE_RECEIVING:
        return "receiving";
    default:
        return "start";
    }
}

const char* CRTSPFailureNote::NetworkWords(int32_t nKind)
{
    switch (nKind) {
    case JX_NET_ERR_REFUSED:
        return "connection refused";
    case JX_NET_ERR_RESET:
        return "connection reset";
    case JX_NET_ERR_UNREACHABLE:
        return "network unreachable";
    case JX_NET_ERR_TIMEDOUT:
        return "timed out";
    case JX_NET_ERR_HOST_NOT_FOUND:
        return "host not found";
    case JX_NET_ERR_CLOSED:
        return "connection closed by the server";
    default:
        return "network error";
    }
}

void CRTSPFailureNote::Compose(CJXStreamFailure& f, const char* pReason)
{
    CopyPrintable(f.m_Reason, sizeof(f.m_Reason), pReason);
    const char* pPhase = PhaseWords(f.m_Phase);
    switch (f.m_Cause) {
    case JXRTSP_CAUSE_STATUS:
        snprintf(f.m_Text, sizeof(f.m_Text), "%s: %d%s%s", pPhase, static_cast<int>(f.m_Status),
                 f.m_Reason[0] != '\0' ? " " : "", f.m_Reason);
        return;
    case JXRTSP_CAUSE_AUTH:
        if (f.m_Status != 0) {
            snprintf(f.m_Text, sizeof(f.m_Text), "authentication refused (%d)", static_cast<int>(f.m_Status));
        } else {
            snprintf(f.m_Text, sizeof(f.m_Text), "authentication refused");
        }
        return;
    case JXRTSP_CAUSE_NOT_RTSP:
        snprintf(f.m_Text, sizeof(f.m_Text), "not an RTSP server");
        return;
    case JXRTSP_CAUSE_NETWORK:
        if (f.m_SysError != 0 && strcmp(f.m_Reason, NetworkWords(JX_NET_ERR_OTHER)) == 0) {
            snprintf(f.m_Text, sizeof(f.m_Text), "%s: %s (system error %d)", pPhase, f.m_Reason,
                     static_cast<int>(f.m_SysError));
            return;
        }
        break;
    default:
        break;
    }
    snprintf(f.m_Text, sizeof(f.m_Text), "%s: %s", pPhase, f.m_Reason);
}

void CRTSPFailureNote::Stage(int32_t nPhase, int32_t nCause, int32_t nStatus, const char* pReason)
{
    m_Staged = CJXStreamFailure();
    m_Staged.m_Phase = nPhase;
    m_Staged.m_Cause = nCause;
    m_Staged.m_Status = nStatus;
    Compose(m_Staged, pReason);
    m_HasStaged = true;
}

void CRTSPFailureNote::Publish(int32_t nPhase, int32_t nCause, int32_t nStatus, int32_t nSysError, const char* pReason)
{
    if (!m_HasStaged) {
        m_Staged = CJXStreamFailure();
        m_Staged.m_Phase = nPhase;
        m_Staged.m_Cause = nCause;
        m_Staged.m_Status = nStatus;
        m_Staged.m_SysError = nSysError;
        Compose(m_Staged, pReason);
    }
    m_HasStaged = false;
    CJXAutoLock lock(m_Mutex);
    m_Staged.m_Failures = m_Last.m_Failures + 1;
    m_Last = m_Staged;
}

void CRTSPFailureNote::MarkPlayed()
{
    m_HasStaged = false;
    CJXAutoLock lock(m_Mutex);
    if (m_Last.m_Phase != JXRTSP_PHASE_NONE) m_Last.m_Old = 1;
    m_Last.m_Failures = 0;
}

void CRTSPFailureNote::Read(CJXStreamFailure& out) const
{
    CJXAutoLock lock(m_Mutex);
    out = m_Last;
}
