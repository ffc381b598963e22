// A scripted RTSP server for tests. It listens on 127.0.0.1 on a free port and
// runs the steps a test gives it: accept a connection, check each request
// (method, URL, CSeq, headers, or the exact bytes), answer with the test's
// text, send any bytes (interleaved frames before, between and after answers),
// cut what it sends into pieces with pauses between them, close. Every wait
// is bounded; the server stops by itself when the test's object goes.
//
//   CScriptedServer srv;
//   srv.Script().Accept()
//       .Expect("DESCRIBE", ExpectCSeq(1)).Reply(SdpReply(kSdp))
//       .Expect("SETUP").Reply("RTSP/1.0 200 OK\r\nCSeq: {CSeq}\r\nSession: 42\r\n\r\n")
//       .Send(InterleavedFrame(0, rtpBytes));
//   ... client.Open(srv.Url("/cam").c_str()); client.Start(); ...
//   ASSERT_TRUE(srv.WaitDone(2000));
//   EXPECT_EQ(srv.Errors(), "");
#pragma once

#include "JXNet.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// One request as the server received it.
struct CScriptRequest {
    std::string m_Raw;   // head and body, byte for byte
    std::string m_Method;
    std::string m_Url;
    int32_t m_CSeq = -1;                                          // -1 when absent or not a number
    std::vector<std::pair<std::string, std::string>> m_Headers;   // in order, names as sent

    // The first header of that name (letter case aside), null when absent.
    const std::string* Find(const std::string& name) const;
    // Its value, "" when absent.
    std::string Header(const std::string& name) const;
};

// Checks one request: "" when it passes, else what is wrong.
typedef std::function<std::string(const CScriptRequest&)> ScriptCheck;

// Checks that are often needed.
ScriptCheck ExpectCSeq(int32_t nCSeq);
ScriptCheck ExpectUrl(const std::string& url);
ScriptCheck ExpectHeader(const std::string& name, const std::string& value);
ScriptCheck ExpectNoHeader(const std::string& name);
// All of the checks, in turn.
ScriptCheck ExpectAll(std::vector<ScriptCheck> checks);

// "$", channel, 16-bit length, payload: one frame interleaved on the connection.
std::string InterleavedFrame(uint8_t nChannel, const std::string& payload);
std::string InterleavedFrame(uint8_t nChannel, const std::vector<uint8_t>& payload);
// A 200 answer carrying an SDP body, with Content-Type and Content-Length.
std::string SdpReply(const std::string& sdp);
// The text with every "{CSeq}" written as the number.
std::string SubstituteCSeq(const std::string& text, int32_t nCSeq);
// Text with CR and LF written as \r and \n, for readable failures.
std::string ShowText(const std::string& text);

// The steps of a script. Answers may hold "{CSeq}", replaced by the CSeq of the
// last request received on the connection.
class CServerScript {
public:
    struct Step {
        enum EKind { kAccept, kExpect, kExpectExact, kSend, kClose, kExpectClosed, kDrain, kStream, kMark, kGate };
        EKind m_Kind = kAccept;
        std::string m_Text;   // method, exact text, bytes, mark or gate name
        ScriptCheck m_Check;
        size_t m_Piece = 0;          // send: fixed piece size (0: whole)
        int32_t m_PauseMs = 0;       // send: pause between pieces; stream period
        bool m_Substitute = false;   // send: replace {CSeq}
    };

    virtual ~CServerScript() = default;

    // Wait for the next connection; later steps use it (the previous one is closed).
    CServerScript& Accept() { return Put(Step::kAccept); }
    // Read one request and check its method (and whatever the check says).
    CServerScript& Expect(const std::string& method, ScriptCheck check = nullptr)
    {
        return Put(Step::kExpect, method, std::move(check));
    }
    // Read one request and compare it with the text byte for byte.
    CServerScript& ExpectExact(const std::string& text) { return Put(Step::kExpectExact, text); }
    // Send an answer, {CSeq} replaced.
    CServerScript& Reply(const std::string& text) { return Put(Step::kSend, text, nullptr, 0, 0, true); }
    // Send bytes as they are, whole or in pieces of nPiece bytes with pauses between.
    CServerScript& Send(const std::string& bytes, size_t nPiece = 0, int32_t nPauseMs = 0)
    {
        return Put(Step::kSend, bytes, nullptr, nPiece, nPauseMs);
    }
    CServerScript& Close() { return Put(Step::kClose); }
    // The client closes the connection and sends nothing more before it does.
    CServerScript& ExpectClosed() { return Put(Step::kExpectClosed); }
    // Keep reading (requests are recorded, not answered) until the client closes
    // or the server stops.
    CServerScript& Drain() { return Put(Step::kDrain); }
    // Send the bytes every nPeriodMs until the client closes or the server stops.
    CServerScript& Stream(const std::string& bytes, int32_t nPeriodMs)
    {
        return Put(Step::kStream, bytes, nullptr, 0, nPeriodMs);
    }
    // Record that the script got here (CScriptedServer::WaitMark).
    CServerScript& Mark(const std::string& name) { return Put(Step::kMark, name); }
    // Wait until the test opens the gate (CScriptedServer::OpenGate).
    CServerScript& Gate(const std::string& name) { return Put(Step::kGate, name); }

    std::vector<Step> m_Steps;

protected:
    CServerScript& Put(Step::EKind kind, const std::string& text = "", ScriptCheck check = nullptr, size_t nPiece = 0,
                       int32_t nPauseMs = 0, bool bSubstitute = false)
    {
        Step step;
        step.m_Kind = kind;
        step.m_Text = text;
        step.m_Check = std::move(check);
        step.m_Piece = nPiece;
        step.m_PauseMs = nPauseMs;
        step.m_Substitute = bSubstitute;
        return Add(std::move(step));
    }
    virtual CServerScript& Add(Step step)
    {
        m_Steps.push_back(std::move(step));
        return *this;
    }
};

class CScriptedServer {
public:
    static constexpr int32_t kDefaultStepTimeoutMs = 3000;

    // Listens at once; nStepTimeoutMs bounds every wait of a step.
    explicit CScriptedServer(int32_t nStepTimeoutMs = kDefaultStepTimeoutMs);
    ~CScriptedServer();
    CScriptedServer(const CScriptedServer&) = delete;
    CScriptedServer& operator=(const CScriptedServer&) = delete;

    uint16_t GetPort() const { return m_Port; }
    std::string Url(const std::string& path = "/cam") const { return UrlWithUser("", "", path); }
    // user:password@ in front of the host, unless both are empty.
    std::string UrlWithUser(const std::string& user, const std::string& password,
                            const std::string& path = "/cam") const;

    // The main script: one timeline over successive connections, run on the
    // server's thread. Steps may be added while it runs.
    CServerScript& Script() { return m_Main; }
    // Every connection accepted from now on runs the session's steps (its
    // Accept steps aside) on a thread of its own. Not together with Script().
    void ServeEach(const CServerScript& session);

    // The main script has run every step given so far, or has failed.
    bool WaitDone(int32_t nMs);
    bool WaitMark(const std::string& name, int32_t nMs);
    void OpenGate(const std::string& name);
    // Every failure so far, one per line; "" when none.
    std::string Errors() const;
    std::vector<CScriptRequest> Requests() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Requests;
    }
    size_t StepsDone() const
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_Done;
    }
    int32_t Connections() const { return m_Connections.load(); }
    int32_t ClosedByClient() const { return m_ClosedByClient.load(); }
    // Stop every thread and close every socket (the destructor does it too).
    void Stop();

    struct CConn;

private:
    class CMainScript : public CServerScript {
    public:
        explicit CMainScript(CScriptedServer& owner) : m_Owner(owner) {}

    protected:
        CServerScript& Add(Step step) override;

    private:
        CScriptedServer& m_Owner;
    };

    void RunMain();
    void RunSession(JXSOCKET s);
    // One step on a connection, and the parts of steps: "" or what failed.
    std::string RunStep(const CServerScript::Step& step, CConn& conn, bool bAcceptAllowed);
    std::string AcceptOne(CConn& conn, int32_t nWaitMs);
    std::string ReadRequest(CConn& conn, CScriptRequest& out);
    std::string SendBytes(CConn& conn, const std::string& bytes);
    std::string SendStep(const CServerScript::Step& step, CConn& conn);
    std::string WaitClosed(CConn& conn, bool bAllowData);
    std::string StreamStep(const CServerScript::Step& step, CConn& conn);
    // Takes a whole request (with its body when bBody) that has come in, and
    // records it: 1, 0 while it is incomplete, negative when it is malformed.
    int32_t TakeRequest(CConn& conn, bool bBody, CScriptRequest& out);
    // Bytes that arrived within the wait (0: none), or -1 when the connection is closed.
    int32_t Receive(CConn& conn, int32_t nWaitMs);
    bool Stopping() const { return m_Stop.load(); }

    int32_t m_StepTimeoutMs;
    JXSOCKET m_Listen = JX_INVALID_SOCKET;
    uint16_t m_Port = 0;
    CMainScript m_Main;
    CServerScript m_Session;

    mutable std::mutex m_Mutex;
    std::condition_variable m_Changed;
    size_t m_Done = 0;   // main steps run
    bool m_Failed = false;
    std::vector<std::string> m_Errors;
    std::vector<CScriptRequest> m_Requests;
    std::set<std::string> m_Marks;
    std::set<std::string> m_Gates;

    std::atomic<bool> m_Stop{false};
    std::atomic<int32_t> m_Connections{0};
    std::atomic<int32_t> m_ClosedByClient{0};
    std::thread m_MainThread;
    std::thread m_AcceptThread;
    std::vector<std::thread> m_SessionThreads;
};
