#include "stream_failure.h"

#include "JXBase.h"
#include "JXStream.h"

namespace {

const int32_t kStatusNotFound = 404;

const char* PhaseName(int32_t nPhase)
{
    switch (nPhase) {
    case JXRTSP_PHASE_CONNECTING:
        return "connecting";
    case JXRTSP_PHASE_DESCRIBING:
        return "describing";
    case JXRTSP_PHASE_SETTING_UP:
        return "setting up";
    case JXRTSP_PHASE_PLAY:
        return "play";
    case JXRTSP_PHASE_KEEP_ALIVE:
        return "keep-alive";
    case JXRTSP_PHASE_RECEIVING:
        return "receiving";
    default:
        return "unknown";
    }
}

}   // namespace

JXFailureSummary ReadLastFailure(IJXStream* pStream)
{
    JXFailureSummary summary;
    CJXStreamFailure failure;
    // A module older than the query answers JX_ERR_UNSUPPORTED.
    if (pStream == nullptr || pStream->GetLastFailure(failure) != JX_OK) return summary;
    if (failure.m_Phase == JXRTSP_PHASE_NONE) return summary;
    // The texts are the module's fixed arrays: bounded whatever they hold.
    failure.m_Reason[sizeof(failure.m_Reason) - 1] = '\0';
    failure.m_Text[sizeof(failure.m_Text) - 1] = '\0';
    summary.bKnown = true;
    summary.sPhase = PhaseName(failure.m_Phase);
    summary.nStatus = failure.m_Status;
    summary.sReason = failure.m_Reason;
    summary.sText = failure.m_Text;
    summary.bRefused = failure.m_Cause == JXRTSP_CAUSE_AUTH ||
                       (failure.m_Cause == JXRTSP_CAUSE_STATUS && failure.m_Status == kStatusNotFound);
    return summary;
}

std::string FailureWords(const JXFailureSummary& failure, const std::string& sFallback)
{
    return failure.bKnown && !failure.sText.empty() ? failure.sText : sFallback;
}
