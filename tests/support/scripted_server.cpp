// The scripted RTSP server of the tests.
#include "scripted_server.h"

#include <chrono>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

std::string Trim(const std::string& s)
{
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

// End of the head (behind the blank line) in the text, or npos.
size_t FindHeadEnd(const std::string& s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\n') continue;
        if (i + 1 < s.size() && s[i + 1] == '\n') return i + 2;
        if (i + 2 < s.size() && s[i + 1] == '\r' && s[i + 2] == '\n') return i + 3;
    }
    return std::string::npos;
}

// Splits a head into its lines (without line ends).
std::vector<std::string> SplitLines(const std::string& head)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < head.size()) {
        size_t lf = head.find('\n', pos);
        if (lf == std::string::npos) lf = head.size();
        std::string line = head.substr(pos, lf - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        pos = lf + 1;
    }
    return lines;
}

void ParseHead(const std::string& head, CScriptRequest& out)
{
    std::vector<std::string> lines = SplitLines(head);
    if (lines.empty()) return;
    const std::string& first = lines[0];
    size_t sp1 = first.find(' ');
    size_t sp2 = sp1 == std::string::npos ? std::string::npos : first.find(' ', sp1 + 1);
    out.m_Method = first.substr(0, sp1);
    if (sp2 != std::string::npos) {
        out.m_Url = first.substr(sp1 + 1, sp2 - sp1 - 1);
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) break;
        size_t colon = lines[i].find(':');
        if (colon == std::string::npos) continue;
        out.m_Headers.emplace_back(lines[i].substr(0, colon), Trim(lines[i].substr(colon + 1)));
    }
    std::string cseq = out.Header("CSeq");
    if (!cseq.empty() && cseq.find_first_not_of("0123456789") == std::string::npos && cseq.size() < 9) {
        out.m_CSeq = atoi(cseq.c_str());
    }
}

std::string Substitute(const std::string& text, int32_t nCSeq)
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

const char* KindName(CServerScript::Step::EKind kind)
{
    static const char* const kNames[] = {"Accept",       "Expect", "ExpectExact", "Send", "Close",
                                         "ExpectClosed", "Drain",  "Stream",      "Mark", "Gate"};
    return kNames[kind];
}

}   // namespace

// ---------------------------------------------------------------------------
// Requests and checks

const std::string* CScriptRequest::Find(const std::string& name) const
{
    for (const auto& h : m_Headers) {
        if (EqualNoCase(h.first, name)) return &h.second;
    }
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
    std::string out;
    out += '$';
    out += static_cast<char>(nChannel);
    out += static_cast<char>((payload.size() >> 8) & 0xFF);
    out += static_cast<char>(payload.size() & 0xFF);
    return out + payload;
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

// ---------------------------------------------------------------------------
// Script building

CServerScript& CServerScript::Add(Step step)
{
    m_Steps.push_back(std::move(step));
    return *this;
}

namespace {

CServerScript::Step MakeStep(CServerScript::Step::EKind kind, const std::string& text = std::string())
{
    CServerScript::Step s;
    s.m_Kind = kind;
    s.m_Text = text;
    return s;
}

}   // namespace

CServerScript& CServerScript::Accept()
{
    return Add(MakeStep(Step::kAccept));
}
CServerScript& CServerScript::ExpectExact(const std::string& text)
{
    return Add(MakeStep(Step::kExpectExact, text));
}
CServerScript& CServerScript::Close()
{
    return Add(MakeStep(Step::kClose));
}
CServerScript& CServerScript::ExpectClosed()
{
    return Add(MakeStep(Step::kExpectClosed));
}
CServerScript& CServerScript::Drain()
{
    return Add(MakeStep(Step::kDrain));
}
CServerScript& CServerScript::Mark(const std::string& name)
{
    return Add(MakeStep(Step::kMark, name));
}
CServerScript& CServerScript::Gate(const std::string& name)
{
    return Add(MakeStep(Step::kGate, name));
}

CServerScript& CServerScript::Expect(const std::string& method, ScriptCheck check)
{
    Step s = MakeStep(Step::kExpect, method);
    s.m_Check = std::move(check);
    return Add(std::move(s));
}

CServerScript& CServerScript::Reply(const std::string& text)
{
    Step s = MakeStep(Step::kSend, text);
    s.m_Substitute = true;
    return Add(std::move(s));
}

CServerScript& CServerScript::Send(const std::string& bytes, size_t nPiece, int32_t nPauseMs)
{
    Step s = MakeStep(Step::kSend, bytes);
    s.m_Piece = nPiece;
    s.m_PauseMs = nPauseMs;
    return Add(std::move(s));
}

CServerScript& CServerScript::Stream(const std::string& bytes, int32_t nPeriodMs)
{
    Step s = MakeStep(Step::kStream, bytes);
    s.m_PauseMs = nPeriodMs;
    return Add(std::move(s));
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
    for (auto& t : m_SessionThreads) {
        if (t.joinable()) t.join();
    }
    m_SessionThreads.clear();
    if (m_Listen != JX_INVALID_SOCKET) JXSocketClose(m_Listen);
    m_Listen = JX_INVALID_SOCKET;
}

std::string CScriptedServer::Url(const std::string& path) const
{
    return "rtsp://127.0.0.1:" + std::to_string(m_Port) + path;
}

std::string CScriptedServer::UrlWithUser(const std::string& user, const std::string& password,
                                         const std::string& path) const
{
    return "rtsp://" + user + ":" + password + "@127.0.0.1:" + std::to_string(m_Port) + path;
}

void CScriptedServer::ServeEach(const CServerScript& session)
{
    m_Session.m_Steps = session.m_Steps;
    m_HasSession = true;
    m_AcceptThread = std::thread([this] { RunAcceptor(); });
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
    return m_Changed.wait_for(lock, std::chrono::milliseconds(nMs), [&] {
        return m_Failed || m_Marks.count(name) > 0;
    }) && m_Marks.count(name) > 0;
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

std::vector<CScriptRequest> CScriptedServer::Requests() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Requests;
}

size_t CScriptedServer::StepsDone() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_Done;
}

void CScriptedServer::Fail(const std::string& text)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Errors.push_back(text);
    }
    m_Changed.notify_all();
}

void CScriptedServer::RunMain()
{
    CConn conn;
    size_t nIndex = 0;
    for (;;) {
        CServerScript::Step step;
        {
            std::unique_lock<std::mutex> lock(m_Mutex);
            m_Changed.wait(lock, [&] { return Stopping() || nIndex < m_Main.m_Steps.size(); });
            if (Stopping()) return;
            step = m_Main.m_Steps[nIndex];
        }
        std::string err = RunStep(step, conn, true);
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (!err.empty()) {
            m_Errors.push_back("step " + std::to_string(nIndex) + " (" + KindName(step.m_Kind) + " " +
                               ShowText(step.m_Kind == CServerScript::Step::kSend ? "" : step.m_Text) + "): " + err);
            m_Failed = true;
            m_Changed.notify_all();
            return;
        }
        m_Done = ++nIndex;
        m_Changed.notify_all();
    }
}

void CScriptedServer::RunAcceptor()
{
    while (!Stopping()) {
        CJXFdSet readSet;
        readSet.Add(m_Listen);
        if (JXSelect(&readSet, nullptr, kSliceMs) <= 0) continue;
        JXSOCKET s = JXSocketAccept(m_Listen);
        if (s == JX_INVALID_SOCKET) continue;
        ++m_Connections;
        m_SessionThreads.emplace_back([this, s] { RunSession(s); });
    }
}

void CScriptedServer::RunSession(JXSOCKET s)
{
    CConn conn;
    conn.m_Socket = s;
    for (size_t i = 0; i < m_Session.m_Steps.size() && !Stopping(); ++i) {
        std::string err = RunStep(m_Session.m_Steps[i], conn, false);
        if (!err.empty()) {
            if (!Stopping()) Fail("session step " + std::to_string(i) + ": " + err);
            return;
        }
    }
}

std::string CScriptedServer::RunStep(const CServerScript::Step& step, CConn& conn, bool bAcceptAllowed)
{
    switch (step.m_Kind) {
    case CServerScript::Step::kAccept:
        return bAcceptAllowed ? AcceptOne(conn) : std::string();
    case CServerScript::Step::kExpect: {
        CScriptRequest request;
        std::string err = ReadRequest(conn, request);
        if (!err.empty()) return err;
        if (request.m_Method != step.m_Text) return "method " + request.m_Method + "\n" + ShowText(request.m_Raw);
        if (step.m_Check) {
            err = step.m_Check(request);
            if (!err.empty()) return err + "\n" + ShowText(request.m_Raw);
        }
        return std::string();
    }
    case CServerScript::Step::kExpectExact: {
        CScriptRequest request;
        std::string err = ReadRequest(conn, request);
        if (!err.empty()) return err;
        if (request.m_Raw != step.m_Text) {
            return "request differs.\nexpected:\n" + ShowText(step.m_Text) + "\nreceived:\n" + ShowText(request.m_Raw);
        }
        return std::string();
    }
    case CServerScript::Step::kSend:
        return SendStep(step, conn);
    case CServerScript::Step::kClose:
        conn.Reset();
        return std::string();
    case CServerScript::Step::kExpectClosed:
        return WaitClosed(conn, false);
    case CServerScript::Step::kDrain:
        return WaitClosed(conn, true);
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

std::string CScriptedServer::AcceptOne(CConn& conn)
{
    conn.Reset();
    if (m_Listen == JX_INVALID_SOCKET) return "not listening";
    auto deadline = Clock::now() + std::chrono::milliseconds(m_StepTimeoutMs);
    while (!Stopping()) {
        int32_t nLeft = MsLeft(deadline);
        if (nLeft == 0) return "no connection in time";
        CJXFdSet readSet;
        readSet.Add(m_Listen);
        if (JXSelect(&readSet, nullptr, nLeft < kSliceMs ? nLeft : kSliceMs) <= 0) continue;
        JXSOCKET s = JXSocketAccept(m_Listen);
        if (s == JX_INVALID_SOCKET) continue;
        conn.m_Socket = s;
        ++m_Connections;
        return std::string();
    }
    return "stopped";
}

// >0 bytes arrived, 0 nothing within the wait, -1 closed or failed.
int32_t CScriptedServer::Receive(CConn& conn, int32_t nWaitMs)
{
    if (conn.m_Socket == JX_INVALID_SOCKET || conn.m_PeerClosed) return -1;
    CJXFdSet readSet;
    readSet.Add(conn.m_Socket);
    if (JXSelect(&readSet, nullptr, nWaitMs) <= 0) return 0;
    char buf[65536];
    int32_t n = JXSocketRecv(conn.m_Socket, buf, sizeof(buf));
    if (n > 0) {
        conn.m_In.append(buf, static_cast<size_t>(n));
        return n;
    }
    if (n < 0 && JXSocketLastError() == JX_NET_ERR_WOULDBLOCK) return 0;
    conn.m_PeerClosed = true;
    ++m_ClosedByClient;
    return -1;
}

std::string CScriptedServer::ReadRequest(CConn& conn, CScriptRequest& out)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(m_StepTimeoutMs);
    for (;;) {
        size_t nHead = FindHeadEnd(conn.m_In);
        if (nHead != std::string::npos) {
            CScriptRequest request;
            ParseHead(conn.m_In.substr(0, nHead), request);
            std::string length = request.Header("Content-Length");
            size_t nBody = length.empty() ? 0 : static_cast<size_t>(strtoul(length.c_str(), nullptr, 10));
            if (nBody > kMaxRequestBytes) return "body too long";
            if (conn.m_In.size() >= nHead + nBody) {
                request.m_Raw = conn.m_In.substr(0, nHead + nBody);
                conn.m_In.erase(0, nHead + nBody);
                conn.m_LastCSeq = request.m_CSeq;
                {
                    std::lock_guard<std::mutex> lock(m_Mutex);
                    m_Requests.push_back(request);
                }
                out = request;
                return std::string();
            }
        }
        if (conn.m_In.size() > kMaxRequestBytes) return "request too long";
        if (Stopping()) return "stopped";
        int32_t nLeft = MsLeft(deadline);
        if (nLeft == 0) return "no request in time; received so far:\n" + ShowText(conn.m_In);
        if (Receive(conn, nLeft < kSliceMs ? nLeft : kSliceMs) < 0) {
            return "connection closed; received so far:\n" + ShowText(conn.m_In);
        }
    }
}

std::string CScriptedServer::SendBytes(CConn& conn, const std::string& bytes)
{
    if (conn.m_Socket == JX_INVALID_SOCKET) return "no connection";
    auto deadline = Clock::now() + std::chrono::milliseconds(m_StepTimeoutMs);
    size_t nDone = 0;
    while (nDone < bytes.size()) {
        if (Stopping()) return "stopped";
        int32_t n = JXSocketSend(conn.m_Socket, bytes.data() + nDone, static_cast<int32_t>(bytes.size() - nDone));
        if (n > 0) {
            nDone += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && JXSocketLastError() != JX_NET_ERR_WOULDBLOCK) return "send failed";
        int32_t nLeft = MsLeft(deadline);
        if (nLeft == 0) return "send timed out";
        CJXFdSet writeSet;
        writeSet.Add(conn.m_Socket);
        JXSelect(nullptr, &writeSet, nLeft < kSliceMs ? nLeft : kSliceMs);
    }
    return std::string();
}

std::string CScriptedServer::SendStep(const CServerScript::Step& step, CConn& conn)
{
    const std::string bytes = step.m_Substitute ? Substitute(step.m_Text, conn.m_LastCSeq) : step.m_Text;
    const size_t nPiece = step.m_Piece > 0 ? step.m_Piece : bytes.size();
    for (size_t nFrom = 0; nFrom < bytes.size(); nFrom += nPiece) {
        if (nFrom > 0 && step.m_PauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.m_PauseMs));
        std::string err = SendBytes(conn, bytes.substr(nFrom, nPiece));
        if (!err.empty()) return err;
    }
    return std::string();
}

std::string CScriptedServer::WaitClosed(CConn& conn, bool bAllowData)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(m_StepTimeoutMs);
    for (;;) {
        // Whole requests that came in are recorded (a TEARDOWN, a keep-alive).
        size_t nHead = FindHeadEnd(conn.m_In);
        if (nHead != std::string::npos) {
            if (!bAllowData) return "unexpected request before the close:\n" + ShowText(conn.m_In);
            CScriptRequest request;
            ParseHead(conn.m_In.substr(0, nHead), request);
            request.m_Raw = conn.m_In.substr(0, nHead);
            conn.m_In.erase(0, nHead);
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Requests.push_back(request);
            continue;
        }
        if (Stopping()) return bAllowData ? std::string() : "stopped";
        int32_t nLeft = bAllowData ? kSliceMs : MsLeft(deadline);
        if (nLeft == 0) return "the client did not close the connection in time";
        if (Receive(conn, nLeft < kSliceMs ? nLeft : kSliceMs) < 0) {
            if (!bAllowData && !conn.m_In.empty()) return "unexpected bytes before the close:\n" + ShowText(conn.m_In);
            conn.Reset();
            return std::string();
        }
    }
}

std::string CScriptedServer::StreamStep(const CServerScript::Step& step, CConn& conn)
{
    while (!Stopping()) {
        // A send that fails means the client has gone: the stream ends there.
        if (!SendBytes(conn, step.m_Text).empty()) {
            if (!conn.m_PeerClosed && !Stopping()) ++m_ClosedByClient;
            conn.Reset();
            return std::string();
        }
        auto next = Clock::now() + std::chrono::milliseconds(step.m_PauseMs);
        while (!Stopping()) {
            int32_t nLeft = MsLeft(next);
            if (nLeft == 0) break;
            if (Receive(conn, nLeft < kSliceMs ? nLeft : kSliceMs) < 0) {
                conn.Reset();
                return std::string();
            }
        }
    }
    return std::string();
}
