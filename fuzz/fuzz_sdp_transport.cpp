// Fuzz target: a SETUP answer's Transport value and a DESCRIBE answer's SDP
// description. The Transport value is read alone (reading it never opens a
// socket); the description goes through the client's whole DESCRIBE handling
// without a network, every media section opened with its depacketizer.
// Input: two bytes (most significant first) give the Transport value's
// length; those bytes follow; the rest is the description.
#include "rtpmedia.h"
#include "rtpsocket.h"
#include "rtspclient.h"
#include "rtsptransport.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kMaxPort = 65535;

void Check(bool bCondition)
{
    if (!bCondition) abort();
}

void DropLog(const char*, void*) {}

void CheckTransport(const char* pValue)
{
    CRTSPTransport reply;
    reply.Read(pValue);
    Check(reply.m_Mode == CRTPSocket::kTransportNone || reply.m_Mode == CRTPSocket::kTransportUDP ||
          reply.m_Mode == CRTPSocket::kTransportInterleaved || reply.m_Mode == CRTPSocket::kTransportMulticast);
    Check(reply.m_First <= kMaxPort && reply.m_Second <= kMaxPort);
    Check(memchr(reply.m_Destination, '\0', sizeof(reply.m_Destination)) != nullptr);
}

void CheckStream(const CRTPSocket* pStream, uint32_t nType)
{
    if (pStream == nullptr) return;
    Check(pStream->m_MediaType == nType);
    Check(pStream->m_Media != nullptr && pStream->m_Media->CheckInvariants() == JX_OK);
    Check(pStream->m_ControlUrl != nullptr);
}

}   // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    JXSetLogSink(&DropLog, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 2) return 0;
    const size_t nTransport = (size_t(pData[0]) << 8) | pData[1];
    if (nTransport > nSize - 2) return 0;
    const std::string transport(reinterpret_cast<const char*>(pData + 2), nTransport);
    CheckTransport(transport.c_str());

    const std::string sdp(reinterpret_cast<const char*>(pData + 2 + nTransport), nSize - 2 - nTransport);
    CRTSPClient client;
    client.Open("rtsp://127.0.0.1:554/cam");
    Check(client.PrepareSession() == 0);
    Check(client.SendDescribe() == 0);
    client.GetSendBuf().Empty();
    const std::string answer = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Type: application/sdp\r\nContent-Length: " +
                               std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
    client.OnRecvBytes(answer.data(), static_cast<int32_t>(answer.size()));
    CheckStream(client.m_Video, CRTPSocket::kMediaVideo);
    CheckStream(client.m_Audio, CRTPSocket::kMediaAudio);
    client.OnStop();
    return 0;
}
