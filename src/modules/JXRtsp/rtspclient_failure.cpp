// Why the last session attempt of a stream failed: the phase it reached, the
// answer or the network failure that ended it, kept for the host to read.
#include "rtspclient.h"

namespace {

constexpr int32_t kFirstErrorStatus = 300;
const char kUnusableAnswer[] = "unusable answer";
const char kNotRtsp[] = "not an RTSP server";

}   // namespace

int32_t CRTSPClient::GetLastFailure(CJXStreamFailure& failure)
{
    m_Failure.Read(failure);
    return JX_OK;
}

int32_t CRTSPClient::FailurePhase() const
{
    switch (m_Phase.load()) {
    case EPhase::kDescribing:
        return JXRTSP_PHASE_DESCRIBING;
    case EPhase::kSettingUp:
        return m_Pending == kPendingPlay ? JXRTSP_PHASE_PLAY : JXRTSP_PHASE_SETTING_UP;
    case EPhase::kPlaying:
        return m_Pending == kPendingKeepAlive ? JXRTSP_PHASE_KEEP_ALIVE : JXRTSP_PHASE_RECEIVING;
    default:
        // A failed connect reports once the retry delay is armed.
        return JXRTSP_PHASE_CONNECTING;
    }
}

void CRTSPClient::NoteResponseFailure(uint16_t nPending, int32_t nResult)
{
    int32_t nPhase = FailurePhase();
    if (nPending == kPendingDescribe) nPhase = JXRTSP_PHASE_DESCRIBING;
    if (nPending == kPendingSetup) nPhase = JXRTSP_PHASE_SETTING_UP;
    if (nPending == kPendingPlay) nPhase = JXRTSP_PHASE_PLAY;
    if (nPending == kPendingKeepAlive) nPhase = JXRTSP_PHASE_KEEP_ALIVE;
    const int32_t nStatus = m_Command.m_StatusCode;
    if (nResult == JX_ERR_AUTH) {
        m_Failure.Stage(nPhase, JXRTSP_CAUSE_AUTH, nStatus, "authentication refused");
    } else if (nStatus >= kFirstErrorStatus) {
        m_Failure.Stage(nPhase, JXRTSP_CAUSE_STATUS, nStatus, m_Command.m_Reason);
    } else {
        m_Failure.Stage(nPhase, JXRTSP_CAUSE_CONTENT, nStatus, kUnusableAnswer);
    }
}

void CRTSPClient::NoteStateReport(int32_t nError)
{
    if (nError == JX_OK) {
        m_Failure.MarkPlayed();
        return;
    }
    // Start or Open refused on the host's thread: the call failed, no attempt did.
    if (!m_Calls.InPass()) return;
    int32_t nPhase = FailurePhase();
    int32_t nSysError = 0;
    const int32_t nKind = LastFailure(nSysError);
    // Text that is not RTSP before any answer to DESCRIBE (a web page, a
    // banner of another service), whatever ended the reading then.
    const bool bForeign = m_Reader.m_ForeignAnswer || (nPhase == JXRTSP_PHASE_DESCRIBING && m_Reader.m_StrayBytes > 0);
    if (bForeign) {
        m_Failure.Publish(nPhase, JXRTSP_CAUSE_NOT_RTSP, 0, 0, kNotRtsp);
    } else if (nError == JX_ERR_TIMEOUT) {
        if (m_Phase == EPhase::kPlaying) nPhase = JXRTSP_PHASE_RECEIVING;
        m_Failure.Publish(nPhase, JXRTSP_CAUSE_TIMEOUT, 0, 0,
                          nPhase == JXRTSP_PHASE_RECEIVING ? "no media in time" : "no answer in time");
    } else if (nKind == JX_NET_ERR_HOST_NOT_FOUND) {
        m_Failure.Publish(nPhase, JXRTSP_CAUSE_HOST, 0, 0, CRTSPFailureNote::NetworkWords(nKind));
    } else if (nKind != JX_NET_ERR_NONE) {
        const int32_t nCause = nKind == JX_NET_ERR_TIMEDOUT ? JXRTSP_CAUSE_TIMEOUT : JXRTSP_CAUSE_NETWORK;
        m_Failure.Publish(nPhase, nCause, 0, nSysError, CRTSPFailureNote::NetworkWords(nKind));
    } else if (nError == JX_ERR_AUTH) {
        m_Failure.Publish(nPhase, JXRTSP_CAUSE_AUTH, 0, 0, "authentication refused");
    } else if (nError == JX_ERR_CONTENT) {
        m_Failure.Publish(nPhase, JXRTSP_CAUSE_CONTENT, 0, 0, kUnusableAnswer);
    } else {
        m_Failure.Publish(nPhase, JXRTSP_CAUSE_OTHER, 0, 0, "failed");
    }
    // The words in the log too, the status line's reason included.
    CJXStreamFailure failure;
    m_Failure.Read(failure);
    JXPrintf("RTSP Client(%s): %s.\n", GetLogUrl(), failure.m_Text);
}
