// Why a stream's last attempt failed, read from the module for what the
// commands print and write.
#pragma once

#include "record/summary_json.h"

class IJXStream;

// The module's last failure of the stream; unknown when no attempt failed
// or the module cannot tell. Any thread.
JXFailureSummary ReadLastFailure(IJXStream* pStream);
// The failure's words, or sFallback when the module cannot tell.
std::string FailureWords(const JXFailureSummary& failure, const std::string& sFallback);
