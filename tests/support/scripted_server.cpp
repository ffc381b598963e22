// The scripted RTSP server of the tests.
#include "scripted_server.h"

#include "JXHTTPCommand.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

typedef std::chrono::steady_clock Clock;
constexpr int32_t kSliceMs = 10;   // longest single wait, so Stop is seen at once
constexpr size_t kMaxRequestBytes = 1 << 20;

int32_t MsLeft(Clock::time_point deadline)
{
    auto n = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return n > 0 ? static_cast<int32_t>(n) : 0;
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return tolower(static_cast<unsigned char>(x)) == tolower(static_cast<unsigned char>(y));
           });
}

std::string Trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(" \t\r") + 1 - b);
}

// Reads a request head with the base library's reader, keeping every header
// line as it was sent.
class CRequestReader : public CJXHTTPCommand {
public:
    int32_t ParseHeadLine(const char* pLine) override
    {
        const char* pColon = strchr(pLine, ':');
        if (pColon != nullptr) m_Lines.emplace_back(std::string(pLine, pColon), Trim(pColon + 1));
        return CJXHTTPCommand::ParseHeadLine(pLine);
    }
    std::vector<std::pair<std::string, std::string>> m_Lines;
};

}   // namespace

// ---------------------------------------------------------------------------
// Requests and checks

const std::string* CScriptRequest::Find(const std::string& name) const
{
    for (const auto& h : m_Headers)
        if (EqualNoCase(h.first, name)) return &h.second;
    return nullptr;
}

std::string CScriptRequest::Header(const std::string& name) const
{
    const std::string* pValue = Find(name);
    return pValue ? *pValue : std::string();
}

ScriptCheck ExpectCSeq(int32_t nCSeq)
{
    return [nCSeq](const CScriptRequest& r) {
        return r.m_CSeq == nCSeq ? std::string()
                                 : "CSeq " + std::to_string(r.m_CSeq) + ", expected " + std::to_string(nCSeq);
    };
}

ScriptCheck ExpectUrl(const std::string& url)
{
    return [url](const CScriptRequest& r) {
        return r.m_Url == url ? std::string() : "URL " + r.m_Url + ", expected " + url;
    };
}

ScriptCheck ExpectHeader(const std::string& name, const std::string& value)
{
    return [name, value](const CScriptRequest& r) {
        const std::string* pGot = r.Find(name);
        if (pGot == nullptr) return "no " + name + " header";
        return *pGot == value ? std::string() : name + ": " + *pGot + ", expected " + value;
    };
}

ScriptCheck ExpectNoHeader(const std::string& name)
{
    return [name](const CScriptRequest& r) {
        const std::string* pGot = r.Find(name);
        return pGot ? "unexpected " + name + " header: " + *pGot : std::string();
    };
}

ScriptCheck ExpectAll(std::vector<ScriptCheck> checks)
{
    return [checks](const CScriptRequest& r) {
        for (const auto& check : checks) {
            std::string err = check ? check(r) : std::string();
            if (!err.empty()) return err;
        }
        return std::string();
    };
}

std::string InterleavedFrame(uint8_t nChannel, const std::string& payload)
{
    const char head[] = {'$', static_cast<char>(nChannel), static_cast<char>((payload.size() >> 8) & 0xFF),
                         static_cast<char>(payload.size() & 0xFF)};
    return std::string(head, sizeof(head)) + payload;
}

std::string InterleavedFrame(uint8_t nChannel, const std::vector<uint8_t>& payload)
{
    return InterleavedFrame(nChannel, std::string(payload.begin(), payload.end()));
}

std::string SdpReply(const std::string& sdp)
{
    return "RTSP/1.0 200 OK\r\nCSeq: {CSeq}\r\nContent-Type: application/sdp\r\nContent-Length: " +
           std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
}

std::string SubstituteCSeq(const std::string& text, int32_t nCSeq)
{
    static const std::string kKey = "{CSeq}";
    std::string out = text;
    for (size_t pos = out.find(kKey); pos != std::string::npos; pos = out.find(kKey, pos)) {
        std::string value = std::to_string(nCSeq);
        out.replace(pos, kKey.size(), value);
        pos += value.size();
    }
    return out;
}

std::string ShowText(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n\n";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

CServerScript& CScriptedServer::CMainScript::Add(Step step)
{
    {
        std::lock_guard<std::mutex> lock(m_Owner.m_Mutex);
        m_Steps.push_back(std::move(step));
    }
    m_Owner.m_Changed.notify_all();
    return *this;
}

// ---------------------------------------------------------------------------
// The server

struct CScriptedServer::CConn {
    JXSOCKET m_Socket = JX_INVALID_SOCKET;
    std::string m_In;
    int32_t m_LastCSeq = 0;
    bool m_PeerClosed = false;

    ~CConn() { Reset(); }
    void Reset()
    {
        if (m_Socket != JX_INVALID_SOCKET) JXSocketClose(m_Socket);
        m_Socket = JX_INVALID_SOCKET;
        m_In.clear();
        m_PeerClosed = false;
    }
};

namespace {

// Waits at most one slice for the socket to be readable (or writable).
bool Ready(JXSOCKET s, bool bWrite, int32_t nLeftMs)
{
    CJXFdSet set;
    set.Add(s);
    return JXSelect(bWrite ? nullptr : &set, bWrite ? &set : nullptr, std::min(nLeftMs, kSliceMs)) > 0;
}

}   // namespace

CScriptedServer::CScriptedServer(int32_t nStepTimeoutMs) : m_StepTimeoutMs(nStepTimeoutMs), m_Main(*this)
{
    JXNetStartup();
    m_Listen = JXSocketListenTCP("127.0.0.1", 0, -1, &m_Port);
    m_MainThread = std::thread([this] { RunMain(); });
}

CScriptedServer::~CScriptedServer()
{
    Stop();
    JXNetCleanup();
}

void CScriptedServer::Stop()
{
    {
        // Under the mutex, so that a thread between its check and its wait
        // cannot miss the wake-up.
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Stop = true;
    }
    m_Changed.notify_all();
    if (m_MainThread.joinable()) m_MainThread.join();
    if (m_AcceptThread.joinable()) m_AcceptThread.join();
    for (auto& t : m_SessionThreads)
        t.join();
    m_SessionThreads.clear();
    if (m_Listen != JX_INVALID_SOCKET) JXSocketClose(m_Listen);
    m_Listen = JX_INVALID_SOCKET;
}

std::string CScriptedServer::UrlWithUser(const std::string& user, const std::string& password,
                                         const std::string& path) const
{
    const std::string userInfo = user.empty() && password.empty() ? "" : user + ":" + password + "@";
    return "rtsp://" + userInfo + "127.0.0.1:" + std::to_string(m_Port) + path;
}

void CScriptedServer::ServeEach(const CServerScript& session)
{
    m_Session.m_Steps = session.m_Steps;
    m_AcceptThread = std::thread([this] {
        CConn conn;
        while (!Stopping()) {
            if (AcceptOne(conn, kSliceMs).empty()) {
                const JXSOCKET s = conn.m_Socket;
                conn.m_Socket = JX_INVALID_SOCKET;
                m_SessionThreads.emplace_back([this, s] { RunSession(s); });
            }
        }
    });
}

bool CScriptedServer::WaitDone(int32_t nMs)
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    return m_Changed.wait_for(lock, std::chrono::milliseconds(nMs),
                              [this] { return m_Failed || m_Done >= m_Main.m_Steps.size(); });
}

bool CScriptedServer::WaitMark(const std::string& name, int32_t nMs)
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Changed.wait_for(lock, std::chrono::milliseconds(nMs), [&] { return m_Failed || m_Marks.count(name) > 0; });
    return m_Marks.count(name) > 0;
}

void CScriptedServer::OpenGate(const std::string& name)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Gates.insert(name);
    }
    m_Changed.notify_all();
}

std::string CScriptedServer::Errors() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    std::string out;
    for (const auto& e : m_Errors)
        out += e + "\n";
    return out;
}

void CScriptedServer::RunMain()
{
    CConn conn;
    for (size_t nIndex = 0;; ++nIndex) {
        CServerScript::Step step;
        {
            std::unique_lock<std::mutex> lock(m_Mutex);
            m_Changed.wait(lock, [&] { return Stopping() || nIndex < m_Main.m_Steps.size(); });
            if (Stopping()) return;
            step = m_Main.m_Steps[nIndex];
        }
        const std::string err = RunStep(step, conn, true);
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Done = err.empty() ? nIndex + 1 : nIndex;
            if (!err.empty()) {
                m_Errors.push_back("step " + std::to_string(nIndex) + " (" + ShowText(step.m_Text.substr(0, 40)) +
                                   "): " + err);
                m_Failed = true;
            }
        }
        m_Changed.notify_all();
        if (!err.empty()) return;
    }
}

void CScriptedServer::RunSession(JXSOCKET s)
{
    CConn conn;
    conn.m_Socket = s;
    for (size_t i = 0; i < m_Session.m_Steps.size() && !Stopping(); ++i) {
        const std::string err = RunStep(m_Session.m_Steps[i], conn, false);
        if (err.empty()) continue;
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (!Stopping()) m_Errors.push_back("session step " + std::to_string(i) + ": " + err);
        return;
    }
}

std::string CScriptedServer::RunStep(const CServerScript::Step& step, CConn& conn, bool bAcceptAllowed)
{
    CScriptRequest request;
    std::string err;
    switch (step.m_Kind) {
    case CServerScript::Step::kAccept:
        return bAcceptAllowed ? AcceptOne(conn, m_StepTimeoutMs) : std::string();
    case CServerScript::Step::kExpect:
        err = ReadRequest(conn, request);
        if (err.empty() && request.m_Method != step.m_Text) err = "method " + request.m_Method;
        if (err.empty() && step.m_Check) err = step.m_Check(request);
        return err.empty() || request.m_Raw.empty() ? err : err + "\n" + ShowText(request.m_Raw);
    case CServerScript::Step::kExpectExact:
        err = ReadRequest(conn, request);
        if (err.empty() && request.m_Raw != step.m_Text)
            err = "request differs.\nexpected:\n" + ShowText(step.m_Text) + "\nreceived:\n" + ShowText(request.m_Raw);
        return err;
    case CServerScript::Step::kSend:
        return SendStep(step, conn);
    case CServerScript::Step::kClose:
        conn.Reset();
        return std::string();
    case CServerScript::Step::kExpectClosed:
    case CServerScript::Step::kDrain:
        return WaitClosed(conn, step.m_Kind == CServerScript::Step::kDrain);
    case CServerScript::Step::kStream:
        return StreamStep(step, conn);
    case CServerScript::Step::kMark: {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Marks.insert(step.m_Text);
        m_Changed.notify_all();
        return std::string();
    }
    case CServerScript::Step::kGate: {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Changed.wait(lock, [&] { return Stopping() || m_Gates.count(step.m_Text) > 0; });
        return Stopping() ? "stopped at the gate" : std::string();
    }
    }
    return "unknown step";
}

std::string CScriptedServer::AcceptOne(CConn& conn, int32_t nWaitMs)
{
    conn.Reset();
    const auto deadline = Clock::now() + std::chrono::milliseconds(nWaitMs);
    while (!Stopping()) {
        const int32_t nLeft = MsLeft(deadline);
        if (nLeft == 0) return "no connection in time";
        if (!Ready(m_Listen, false, nLeft)) continue;
        conn.m_Socket = JXSocketAccept(m_Listen);
        if (conn.m_Socket == JX_INVALID_SOCKET) continue;
        ++m_Connections;
        return std::string();
    }
    return "stopped";
}

// >0 bytes arrived, 0 nothing within the wait, -1 closed or failed.
int32_t CScriptedServer::Receive(CConn& conn, int32_t nWaitMs)
{
    if (conn.m_Socket == JX_INVALID_SOCKET || conn.m_PeerClosed) return -1;
    if (!Ready(conn.m_Socket, false, nWaitMs)) return 0;
    char buf[65536];
    const int32_t n = JXSocketRecv(conn.m_Socket, buf, sizeof(buf));
    if (n > 0) conn.m_In.append(buf, static_cast<size_t>(n));
    if (n > 0 || (n < 0 && JXSocketLastError() == JX_NET_ERR_WOULDBLOCK)) return n > 0 ? n : 0;
    conn.m_PeerClosed = true;
    ++m_ClosedByClient;
    return -1;
}

int32_t CScriptedServer::TakeRequest(CConn& conn, bool bBody, CScriptRequest& out)
{
    // A request, or the client's answer to one of the server's: its method is
    // then the version and its URL the status code.
    CRequestReader reader, answer;
    const char* pIn = conn.m_In.data();
    const int32_t nIn = int32_t(std::min(conn.m_In.size(), kMaxRequestBytes));
    int32_t nHead = reader.ParseRequest(pIn, nIn);
    const bool bAnswer = nHead < 0;
    if (bAnswer) nHead = answer.ParseResponse(pIn, nIn);
    if (nHead <= 0) return nHead;
    CScriptRequest request;
    request.m_Method = bAnswer ? conn.m_In.substr(0, conn.m_In.find(' ')) : reader.m_Method;
    request.m_Url = bAnswer ? std::to_string(answer.m_StatusCode) : reader.m_Uri;
    request.m_Headers = bAnswer ? answer.m_Lines : reader.m_Lines;
    const std::string cseq = request.Header("CSeq");
    if (!cseq.empty() && cseq.find_first_not_of("0123456789") == std::string::npos && cseq.size() < 9)
        request.m_CSeq = atoi(cseq.c_str());
    const size_t nBody = bBody ? size_t(reader.m_ContentLength) : 0;
    if (conn.m_In.size() < size_t(nHead) + nBody) return 0;
    request.m_Raw = conn.m_In.substr(0, size_t(nHead) + nBody);
    conn.m_In.erase(0, size_t(nHead) + nBody);
    conn.m_LastCSeq = request.m_CSeq;
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Requests.push_back(request);
    out = request;
    return 1;
}

std::string CScriptedServer::ReadRequest(CConn& conn, CScriptRequest& out)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_StepTimeoutMs);
    for (int32_t nTaken; (nTaken = TakeRequest(conn, true, out)) <= 0;) {
        if (nTaken < 0) return "malformed or too long request:\n" + ShowText(conn.m_In);
        if (Stopping()) return "stopped";
        const int32_t nLeft = MsLeft(deadline);
        if (nLeft == 0) return "no request in time; received so far:\n" + ShowText(conn.m_In);
        if (Receive(conn, nLeft) < 0) return "connection closed; received so far:\n" + ShowText(conn.m_In);
    }
    return std::string();
}

std::string CScriptedServer::SendBytes(CConn& conn, const std::string& bytes)
{
    if (conn.m_Socket == JX_INVALID_SOCKET) return "no connection";
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_StepTimeoutMs);
    for (size_t nDone = 0; nDone < bytes.size();) {
        if (Stopping()) return "stopped";
        const int32_t n = JXSocketSend(conn.m_Socket, bytes.data() + nDone, static_cast<int32_t>(bytes.size() - nDone));
        if (n > 0) {
            nDone += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && JXSocketLastError() != JX_NET_ERR_WOULDBLOCK) return "send failed";
        const int32_t nLeft = MsLeft(deadline);
        if (nLeft == 0) return "send timed out";
        Ready(conn.m_Socket, true, nLeft);
    }
    return std::string();
}

std::string CScriptedServer::SendStep(const CServerScript::Step& step, CConn& conn)
{
    const std::string bytes = step.m_Substitute ? SubstituteCSeq(step.m_Text, conn.m_LastCSeq) : step.m_Text;
    const size_t nPiece = step.m_Piece > 0 ? step.m_Piece : bytes.size();
    for (size_t nFrom = 0; nFrom < bytes.size(); nFrom += nPiece) {
        if (nFrom > 0 && step.m_PauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.m_PauseMs));
        const std::string err = SendBytes(conn, bytes.substr(nFrom, nPiece));
        if (!err.empty()) return err;
    }
    return std::string();
}

// Whole requests that come in are recorded (a TEARDOWN, a keep-alive); without
// bAllowData any of them is a failure.
std::string CScriptedServer::WaitClosed(CConn& conn, bool bAllowData)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_StepTimeoutMs);
    for (CScriptRequest request;;) {
        if (TakeRequest(conn, false, request) > 0) {
            if (!bAllowData) return "unexpected request before the close:\n" + ShowText(request.m_Raw);
            continue;
        }
        if (Stopping()) return bAllowData ? std::string() : "stopped";
        const int32_t nLeft = bAllowData ? kSliceMs : MsLeft(deadline);
        if (nLeft == 0) return "the client did not close the connection in time";
        if (Receive(conn, nLeft) >= 0) continue;
        if (!bAllowData && !conn.m_In.empty()) return "unexpected bytes before the close:\n" + ShowText(conn.m_In);
        conn.Reset();
        return std::string();
    }
}

// Sends the bytes every period until the client goes (a send fails or it
// closes) or the server stops.
std::string CScriptedServer::StreamStep(const CServerScript::Step& step, CConn& conn)
{
    while (!Stopping()) {
        if (!SendBytes(conn, step.m_Text).empty()) {
            if (!conn.m_PeerClosed && !Stopping()) ++m_ClosedByClient;
            break;
        }
        const auto next = Clock::now() + std::chrono::milliseconds(step.m_PauseMs);
        for (int32_t nLeft = MsLeft(next); nLeft > 0 && !Stopping(); nLeft = MsLeft(next)) {
            if (Receive(conn, nLeft) < 0) {
                conn.Reset();
                return std::string();
            }
        }
    }
    conn.Reset();
    return std::string();
}
