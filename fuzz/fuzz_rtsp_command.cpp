// Fuzz target: the RTSP response reader fed as the control connection feeds
// it, the bytes arriving in pieces, whatever it does not take staying in front.
// Complete responses also go through the challenge reader and the Digest
// writer. Input: one byte of piece size, then the byte stream.
#include "rtspcommand.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool bCondition)
{
    if (!bCondition) abort();
}

void DropLog(const char*, void*) {}

}   // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    JXSetLogSink(&DropLog, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1) return 0;
    const size_t nPiece = size_t(pData[0] % 97) + 1;
    const char* pText = reinterpret_cast<const char*>(pData + 1);
    const size_t nText = nSize - 1;

    CRTSPCommand cmd;
    std::string buffer;
    for (size_t nPos = 0; nPos < nText || !buffer.empty();) {
        const size_t nTake = nText - nPos < nPiece ? nText - nPos : nPiece;
        buffer.append(pText + nPos, nTake);
        nPos += nTake;
        const int32_t nRet = cmd.ParseResponse(buffer.data(), static_cast<int32_t>(buffer.size()));
        Check(nRet <= static_cast<int32_t>(buffer.size()));
        if (nRet < 0) {
            Check(cmd.m_StatusCode == 0);
            cmd.Reset();
            buffer.clear();
            continue;
        }
        buffer.erase(0, size_t(nRet));
        if (cmd.IsCompleted()) {
            Check(cmd.m_StatusCode >= 100 && cmd.m_StatusCode <= 999);
            Check(cmd.m_Body.m_Length <= CJXHTTPCommand::kMaxContent);
            if (cmd.m_WWWAuthenticate != nullptr) {
                CRTSPAuthen authen;
                authen.SetUser("user", "pass");
                if (authen.ParseResponse(cmd.m_WWWAuthenticate) == 0) {
                    CJXString out;
                    Check(authen.BuildRequest(out, "DESCRIBE", "rtsp://h/s") == 0);
                    for (int32_t i = 0; i < out.m_Length; ++i)
                        Check(out.m_Data[i] != '\r' && out.m_Data[i] != '\n');
                }
            }
            cmd.Reset();
            Check(cmd.m_RtpInfo == nullptr);
        } else if (nRet == 0 && nPos >= nText) {
            break;   // incomplete, and nothing more comes
        }
    }
    return 0;
}
