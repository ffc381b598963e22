// Arbitrary bytes arriving in pieces of arbitrary size, read as a client reads
// its control connection: head, then body, then the next response. Every body
// is also read line by line, as the SDP reader does. Invariants are checked
// after every call.
#include "HTTPParser.h"
#include "JXHTTPCommand.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool bOk)
{
    if (!bOk) __builtin_trap();
}

// Each call sees an exact-size heap copy, so a read past the end faults.
int32_t Call(CJXHTTPCommand& cmd, const std::string& buf, bool bHead, bool bRequest)
{
    char* p = static_cast<char*>(malloc(buf.size() ? buf.size() : 1));
    memcpy(p, buf.data(), buf.size());
    int32_t n = int32_t(buf.size());
    int32_t nRet =
        bHead ? (bRequest ? cmd.ParseRequest(p, n) : cmd.ParseResponse(p, n)) : cmd.ParseContent(p, n, &cmd.m_Body);
    free(p);
    return nRet;
}

void ReadBodyLines(const CJXString& body)
{
    CHTTPParser parser;
    if (parser.Setup(body.m_Data, body.m_Length) != 0) return;
    int32_t nLines = 0;
    while (const char* pLine = parser.ParseNext()) {
        Check(strlen(pLine) <= size_t(CHTTPParser::kMaxLineBytes));
        Check(++nLines <= body.m_Length + 1);
    }
}

void Run(const uint8_t* pData, size_t nSize, bool bRequest)
{
    // The first byte seeds the piece sizes; the rest is the stream.
    uint32_t nSeed = nSize > 0 ? pData[0] * 2654435761u + 1 : 1;
    const char* pStream = reinterpret_cast<const char*>(pData) + (nSize > 0 ? 1 : 0);
    size_t nStream = nSize > 0 ? nSize - 1 : 0;

    CJXHTTPCommand cmd;
    std::string buf;
    bool bHead = false;
    size_t nPos = 0;
    while (nPos < nStream) {
        nSeed = nSeed * 1103515245u + 12345u;
        size_t nPiece = 1 + (nSeed >> 16) % 64;
        if (nPiece > nStream - nPos) nPiece = nStream - nPos;
        buf.append(pStream + nPos, nPiece);
        nPos += nPiece;
        for (;;) {
            if (!bHead) {
                int32_t nRet = Call(cmd, buf, true, bRequest);
                if (nRet < 0) return;   // the connection would be closed
                if (nRet == 0) break;
                Check(size_t(nRet) <= buf.size());
                Check(bRequest ? cmd.m_Method != nullptr : (cmd.m_StatusCode >= 100 && cmd.m_StatusCode <= 999));
                Check(cmd.m_ContentLength >= 0 && cmd.m_ContentLength <= CJXHTTPCommand::kMaxContent);
                buf.erase(0, size_t(nRet));
                bHead = true;
            }
            int32_t nTaken = Call(cmd, buf, false, bRequest);
            if (nTaken < 0) return;
            Check(size_t(nTaken) <= buf.size());
            Check(cmd.m_Body.m_Length <= CJXHTTPCommand::kMaxContent);
            buf.erase(0, size_t(nTaken));
            if (!cmd.IsCompleted()) break;
            if (!cmd.m_Chunked) Check(cmd.m_Body.m_Length == cmd.m_ContentLength);
            ReadBodyLines(cmd.m_Body);
            cmd.Reset();
            bHead = false;
            if (buf.empty()) break;
        }
    }
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    Run(pData, nSize, false);
    Run(pData, nSize, true);
    return 0;
}
