// The bytes of the control connection told apart: responses, interleaved
// frames, requests from the server and stray bytes (CRTSPReader). No I/O:
// it is fed the unconsumed bytes and hands each unit to its sink.
#pragma once

#include "rtspcommand.h"

// A request from the server (OPTIONS or GET_PARAMETER pings, ANNOUNCE...),
// read with the base reader. The CSeq text is kept as sent, so the answer
// echoes it exactly (the base keeps 16 bits of it).
class JXRTSP_API CRTSPServerRequest : public CJXHTTPCommand {
public:
    static constexpr int32_t kMaxCSeqChars = 10;

    int32_t Reset() override;
    int32_t ParseHeadLine(const char* pLine) override;

    char m_CSeqText[kMaxCSeqChars + 1] = {};
};

// What the reader hands on, and what it asks of its owner.
class JXRTSP_API IRTSPReaderSink {
public:
    virtual ~IRTSPReaderSink() = default;
    // Whether a complete response answers the request awaited; one that
    // does not is read to its end and dropped.
    virtual bool IsAwaited(const CRTSPCommand& response) const = 0;
    // A complete response that answers the request awaited: 0, or a negative
    // result that ends the reading.
    virtual int32_t OnResponse(CRTSPCommand& response) = 0;
    // One interleaved packet and its channel: the owner's result (negative
    // for a packet it refused; the packet is skipped all the same).
    virtual int32_t OnPacket(uint8_t nChannel, const char* pData, uint32_t nLen) = 0;
    // A complete request from the server, to be answered.
    virtual void OnServerRequest(const CRTSPServerRequest& request) = 0;
    // False once no further unit is to be read (the stream was stopped from
    // inside a callback of this reading).
    virtual bool KeepReading() const = 0;
    // The stream's name in log lines.
    virtual const char* LogName() const = 0;
};

// Reads units one after another from the front of the bytes it is given. A
// response or request whose head has been read owns everything up to the
// end of its body, '$' included (an SDP body may contain one); otherwise a
// '$' begins an interleaved frame, "RTSP/" a response, a method in capitals
// and a blank a request from the server, and anything else is skipped as
// stray bytes (cameras put CR LF or padding between frames). "HTTP/" where
// a unit begins before any response is the answer of another server than
// an RTSP one: a failure.
class JXRTSP_API CRTSPReader {
public:
    static constexpr int32_t kFrameHeadBytes = 4;   // '$', channel, 16-bit length

    // The response reader is the owner's: it reads the parsed fields.
    CRTSPReader(IRTSPReaderSink& sink, CRTSPCommand& response);
    CRTSPReader(const CRTSPReader&) = delete;
    CRTSPReader& operator=(const CRTSPReader&) = delete;

    // Whole units from the front of the bytes, until the rest is incomplete
    // or the sink stops the reading: the bytes consumed, or the first
    // negative result (what follows it is not read).
    int32_t Read(const char* pData, int32_t nLen);
    // One unit from the front: >0 bytes taken, 0 the rest is incomplete, <0 failure.
    int32_t TakeUnit(const char* p, int32_t n);
    // Response text from its front, or from where its head reading stopped:
    // the bytes taken (0: more are needed), or a negative failure.
    int32_t TakeResponse(const char* p, int32_t n);
    // An interleaved frame at the front: its whole length once complete (a
    // packet the sink refuses is skipped, never stalls the connection), 0
    // while incomplete.
    int32_t TakeFrame(const char* p, int32_t n);
    // A new connection: nothing half read, counts and log lines start anew.
    void Reset();

    // All bytes the readers looked at to find units and heads (tests: the
    // cost of a head that arrives byte by byte stays linear).
    uint64_t ExaminedBytes() const;

    // What the reading skipped or answered on this connection, for the log and tests.
    uint32_t m_StrayBytes = 0;
    uint32_t m_ServerRequests = 0;
    uint32_t m_UnsolicitedResponses = 0;
    // Bytes looked at to tell units apart.
    uint64_t m_ClassifiedBytes = 0;
    // The peer answered in another protocol ("HTTP/..."): the reading failed.
    bool m_ForeignAnswer = false;

private:
    enum EUnit { kUnitWait, kUnitResponse, kUnitRequest, kUnitStray, kUnitForeign };

    EUnit ClassifyText(const char* p, int32_t n, int32_t& nLen);
    int32_t SkipStray(int32_t nLen);
    int32_t TakeServerRequest(const char* p, int32_t n);

    IRTSPReaderSink& m_Sink;
    CRTSPCommand& m_Response;
    CRTSPServerRequest m_Request;
    bool m_InRequest = false;   // m_Request holds a request's head or body in part
    bool m_Answered = false;    // a whole response was read on this connection
    bool m_StrayLogged = false;
    bool m_RequestLogged = false;
    bool m_UnsolicitedLogged = false;
};
