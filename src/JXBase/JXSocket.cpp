// The socket handle holder and the TCP control connection: a connect that
// never waits (host names are looked up by a CJXResolver), a bounded blocking
// connect built on it, and non-blocking send and receive for the worker's
// passes.
#include "JXSocket.h"
#include "JXResolver.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

namespace {

typedef std::chrono::steady_clock Clock;

// Longest host text taken (a DNS name has at most 253 characters).
constexpr size_t kMaxHostLen = 255;
// Longest pause of Open while a lookup runs: it polls the lookup this often.
constexpr int32_t kLookupPollMs = 5;

// Milliseconds until deadline, at least 0.
int32_t MsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int32_t>(left) : 0;
}

// The resolver of Open, shared by the process while any CJXSocket lives; the
// last socket to go destroys it, which joins its threads.
struct CShared {
    std::mutex m_Mutex;
    int32_t m_Sockets = 0;
    CJXResolver* m_Resolver = nullptr;
};

CShared& Shared()
{
    static CShared s_Shared;
    return s_Shared;
}

// The shared resolver, created on first use; null without memory. Only called
// by a live socket, so the count is above zero and the resolver stays.
CJXResolver* SharedResolver()
{
    CShared& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.m_Mutex);
    if (shared.m_Resolver == nullptr) shared.m_Resolver = new (std::nothrow) CJXResolver();
    return shared.m_Resolver;
}

void AddSocket()
{
    CShared& shared = Shared();
    std::lock_guard<std::mutex> lock(shared.m_Mutex);
    ++shared.m_Sockets;
}

void RemoveSocket()
{
    CShared& shared = Shared();
    CJXResolver* pLast = nullptr;
    {
        std::lock_guard<std::mutex> lock(shared.m_Mutex);
        if (--shared.m_Sockets == 0) {
            pLast = shared.m_Resolver;
            shared.m_Resolver = nullptr;
        }
    }
    delete pLast;   // joins outside the lock: a new socket may start meanwhile
}

// Host text as the name service and the connect want it: without the
// brackets of an IPv6 literal. False for text that cannot be a host.
bool CopyHost(const char* pHost, char (&host)[kMaxHostLen + 1], bool* pBracketed)
{
    size_t nLen = strlen(pHost);
    *pBracketed = pHost[0] == '[';
    if (*pBracketed) {
        if (nLen < 3 || pHost[nLen - 1] != ']') return false;
        ++pHost;
        nLen -= 2;
    }
    if (nLen > kMaxHostLen) return false;
    memcpy(host, pHost, nLen);
    host[nLen] = '\0';
    return strchr(host, '[') == nullptr && strchr(host, ']') == nullptr;
}

// The addresses of numeric host text, or null for anything else (converting
// numeric text never asks the name service, so it never waits).
addrinfo* NumericAddresses(const char* pHost, uint16_t nPort)
{
    char port[8];
    snprintf(port, sizeof(port), "%u", static_cast<unsigned>(nPort));
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* pList = nullptr;
    if (getaddrinfo(pHost, port, &hints, &pList) != 0) return nullptr;
    return pList;
}

// A non-blocking socket with a connect to pAddr under way (or already done),
// or JX_INVALID_SOCKET when this address failed at once (nSysError: why).
JXSOCKET StartOne(const addrinfo* pAddr, int32_t& nSysError)
{
    nSysError = 0;
    JXSOCKET s = JXSocketCreate(pAddr->ai_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == JX_INVALID_SOCKET) {
        nSysError = JXSocketLastErrorRaw();
        return s;
    }
    if (JXSocketSetBlocking(s, 0) != JX_OK) {
        JXSocketClose(s);
        return JX_INVALID_SOCKET;
    }
    // Requests are small and answered one at a time: do not let Nagle hold them.
    JXSocketSetOptInt(s, IPPROTO_TCP, TCP_NODELAY, 1);
    if (JXSocketConnect(s, pAddr->ai_addr, static_cast<int32_t>(pAddr->ai_addrlen)) == JX_OK) return s;
    if (JXSocketLastError() == JX_NET_ERR_WOULDBLOCK) return s;
    nSysError = JXSocketLastErrorRaw();
    JXSocketClose(s);
    return JX_INVALID_SOCKET;
}

// Where a started connect stands: 1 under way, JX_OK connected, JX_ERR_FAIL
// (nSysError: the socket's pending error).
int32_t CheckOne(JXSOCKET s, int32_t& nSysError)
{
    CJXFdSet writeSet;
    writeSet.Add(s);
    int32_t nReady = JXSelect(nullptr, &writeSet, 0);
    if (nReady == 0) return 1;
    // Writable or failed (a failure shows as ready on both platforms): the
    // socket's pending error tells which.
    int32_t nSoError = -1;
    if (nReady > 0 && JXSocketGetOptInt(s, SOL_SOCKET, SO_ERROR, &nSoError) == JX_OK && nSoError == 0) return JX_OK;
    nSysError = nSoError > 0 ? nSoError : JXSocketLastErrorRaw();
    return JX_ERR_FAIL;
}

}   // namespace

CJXSocket::CJXSocket()
{
    JXNetStartup();
    AddSocket();
}

CJXSocket::~CJXSocket()
{
    CJXSocket::Close();
    RemoveSocket();
    JXNetCleanup();
}

void CJXSocket::Close()
{
    if (m_Socket == JX_INVALID_SOCKET) return;
    JXSocketClose(m_Socket);
    m_Socket = JX_INVALID_SOCKET;
}

int32_t CJXSocket::EnableBlock(JXSOCKET s, bool bBlock)
{
    if (s == JX_INVALID_SOCKET) return JX_ERR_FAIL;
    return JXSocketSetBlocking(s, bBlock ? 1 : 0);
}

CJXSocketTCP::CJXSocketTCP() : m_SendBuf(nullptr, 5), m_RecvBuf(nullptr, 5) {}

CJXSocketTCP::~CJXSocketTCP()
{
    CJXSocketTCP::Close();
}

int32_t CJXSocketTCP::StartConnect(const char* pHost, uint16_t nPort, CJXResolver* pResolver, uint32_t nTimeoutMs)
{
    return BeginAttempt(pHost, nPort, pResolver, false, nTimeoutMs);
}

int32_t CJXSocketTCP::BeginAttempt(const char* pHost, uint16_t nPort, CJXResolver* pResolver, bool bShared,
                                   uint32_t nTimeoutMs)
{
    EndAttempt(JX_ERR_FAIL);   // an attempt or connection left from before
    NoteFailure(JX_NET_ERR_NONE, 0);
    if (CJXString::IsEmpty(pHost) || nPort == 0) return JX_ERR_ARG;
    char host[kMaxHostLen + 1];
    bool bBracketed = false;
    if (!CopyHost(pHost, host, &bBracketed)) return JX_ERR_ARG;
    m_ConnTimeout.Setup(nTimeoutMs == 0 ? kConnectTimeoutMs : nTimeoutMs);

    m_ConnList = NumericAddresses(host, nPort);
    if (m_ConnList != nullptr) {
        m_ConnNext = m_ConnList;
        m_ConnBusy = true;
        if (!StartNextAddress()) return EndAttempt(JX_ERR_FAIL);
        return JX_OK;
    }
    // Brackets hold an IPv6 literal, never a name.
    if (bBracketed) return JX_ERR_ARG;
    if (bShared) pResolver = SharedResolver();
    if (pResolver == nullptr) return bShared ? JX_ERR_FAIL : JX_ERR_ARG;
    int32_t nHandle = pResolver->Submit(host, nPort);
    if (nHandle == JX_ERR_ARG) return JX_ERR_ARG;
    if (nHandle <= 0) return JX_ERR_FAIL;
    m_ConnResolver = pResolver;
    m_ConnLookup = nHandle;
    m_ConnBusy = true;
    return JX_OK;
}

// Start the connect of the next address that takes one; false when none is left.
bool CJXSocketTCP::StartNextAddress()
{
    CJXSocket::Close();
    for (; m_ConnNext != nullptr; m_ConnNext = m_ConnNext->ai_next) {
        if (m_ConnNext->ai_family != AF_INET && m_ConnNext->ai_family != AF_INET6) continue;
        int32_t nSysError = 0;
        m_Socket = StartOne(m_ConnNext, nSysError);
        if (m_Socket == JX_INVALID_SOCKET) {
            NoteFailure(JXSocketErrorKind(nSysError), nSysError);
            continue;
        }
        m_ConnNext = m_ConnNext->ai_next;
        return true;
    }
    return false;
}

// End the attempt with nResult: anything but JX_OK also closes the socket.
int32_t CJXSocketTCP::EndAttempt(int32_t nResult)
{
    if (m_ConnLookup > 0 && m_ConnResolver != nullptr) m_ConnResolver->Cancel(m_ConnLookup);
    m_ConnResolver = nullptr;
    m_ConnLookup = 0;
    if (m_ConnList != nullptr) freeaddrinfo(m_ConnList);
    m_ConnList = nullptr;
    m_ConnNext = nullptr;
    m_ConnBusy = false;
    m_ConnTimeout.Setup(0);
    if (nResult != JX_OK) CJXSocket::Close();
    return nResult;
}

int32_t CJXSocketTCP::ContinueConnect()
{
    if (!m_ConnBusy) return IsValid() ? JX_OK : JX_ERR_STATE;

    if (m_ConnLookup > 0) {
        addrinfo* pList = nullptr;
        int32_t nRet = m_ConnResolver->Collect(m_ConnLookup, &pList);
        if (nRet == 1) return m_ConnTimeout.Check() ? TimeOut() : 1;
        // The handle is gone either way: the resolver is not needed any more.
        m_ConnLookup = 0;
        m_ConnResolver = nullptr;
        if (nRet != JX_OK) {
            NoteFailure(JX_NET_ERR_HOST_NOT_FOUND, 0);
            return EndAttempt(JX_ERR_FAIL);
        }
        m_ConnList = pList;
        m_ConnNext = pList;
        if (!StartNextAddress()) return EndAttempt(JX_ERR_FAIL);
    }

    // A refused address goes on to the next; the time-out covers them all.
    for (;;) {
        int32_t nSysError = 0;
        int32_t nRet = CheckOne(m_Socket, nSysError);
        if (nRet == JX_OK) return EndAttempt(JX_OK);
        if (nRet == 1) return m_ConnTimeout.Check() ? TimeOut() : 1;
        NoteFailure(JXSocketErrorKind(nSysError), nSysError);
        if (!StartNextAddress()) return EndAttempt(JX_ERR_FAIL);
    }
}

int32_t CJXSocketTCP::TimeOut()
{
    NoteFailure(JX_NET_ERR_TIMEDOUT, 0);
    return EndAttempt(JX_ERR_TIMEOUT);
}

void CJXSocketTCP::NoteFailure(int32_t nKind, int32_t nSysError)
{
    m_FailKind = nKind;
    m_FailSys = nSysError;
}

int32_t CJXSocketTCP::NoteTransferFailure()
{
    const int32_t nSysError = JXSocketLastErrorRaw();
    NoteFailure(JXSocketErrorKind(nSysError), nSysError);
    return JX_ERR_FAIL;
}

int32_t CJXSocketTCP::Open(const char* pHost, uint16_t nPort, uint32_t nTimeoutMs)
{
    if (nTimeoutMs == 0 || nTimeoutMs > kConnectTimeoutMs) nTimeoutMs = kConnectTimeoutMs;
    // The real clock bounds the wait too, so that a test clock standing still
    // cannot hold the caller.
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    int32_t nRet = BeginAttempt(pHost, nPort, nullptr, true, nTimeoutMs);
    if (nRet != JX_OK) return nRet;

    for (;;) {
        nRet = ContinueConnect();
        if (nRet != 1) return nRet;
        int32_t nLeft = MsLeft(deadline);
        if (nLeft == 0) return TimeOut();
        uint32_t nLimit = m_ConnTimeout.Remaining();
        if (nLimit > 0 && nLimit < static_cast<uint32_t>(nLeft)) nLeft = static_cast<int32_t>(nLimit);
        if (m_ConnLookup > 0) {
            // No socket to wait on yet: look at the lookup again shortly.
            JXSelect(nullptr, nullptr, nLeft < kLookupPollMs ? nLeft : kLookupPollMs);
            continue;
        }
        CJXFdSet writeSet;
        writeSet.Add(m_Socket);
        JXSelect(nullptr, &writeSet, nLeft);
    }
}

void CJXSocketTCP::Close()
{
    EndAttempt(JX_ERR_FAIL);
}

int32_t CJXSocketTCP::OnSend(CJXFdSet*)
{
    return 0;
}

int32_t CJXSocketTCP::OnRecv(CJXFdSet*)
{
    return 0;
}

int32_t CJXSocketTCP::OnRecv(CJXFdSet* pRead, char* pBuf, int32_t n)
{
    if (!IsValid()) return JX_ERR_FAIL;
    if (pBuf == nullptr || n <= 0) return JX_ERR_ARG;
    if (pRead && !pRead->IsSet(m_Socket)) return 0;
    int32_t nGot = JXSocketRecv(m_Socket, pBuf, n);
    if (nGot > 0) return nGot;
    if (nGot == 0) {
        NoteFailure(JX_NET_ERR_CLOSED, 0);   // the peer closed the connection
        return JX_ERR_FAIL;
    }
    return JXSocketLastError() == JX_NET_ERR_WOULDBLOCK ? 0 : NoteTransferFailure();
}

int32_t CJXSocketTCP::OnSend(CJXFdSet* pWrite, const char* pData, int32_t n)
{
    if (!IsValid()) return JX_ERR_FAIL;
    if (n == 0) return 0;
    if (pData == nullptr || n < 0) return JX_ERR_ARG;
    if (pWrite && !pWrite->IsSet(m_Socket)) return 0;
    int32_t nSent = JXSocketSend(m_Socket, pData, n);
    if (nSent >= 0) return nSent;
    return JXSocketLastError() == JX_NET_ERR_WOULDBLOCK ? 0 : NoteTransferFailure();
}

int32_t CJXSocketTCP::Send(const char* pData, int32_t n, uint32_t nTimeoutMs)
{
    if (!IsValid()) return JX_ERR_FAIL;
    if (n == 0) return 0;
    if (pData == nullptr || n < 0) return JX_ERR_ARG;
    if (nTimeoutMs > static_cast<uint32_t>(INT32_MAX)) nTimeoutMs = INT32_MAX;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);

    int32_t nDone = 0;
    while (nDone < n) {
        int32_t nSent = JXSocketSend(m_Socket, pData + nDone, n - nDone);
        if (nSent > 0) {
            nDone += nSent;
            continue;
        }
        if (nSent < 0 && JXSocketLastError() != JX_NET_ERR_WOULDBLOCK) return JX_ERR_FAIL;
        int32_t nLeft = MsLeft(deadline);
        if (nLeft == 0) return JX_ERR_TIMEOUT;
        CJXFdSet writeSet;
        writeSet.Add(m_Socket);
        if (JXSelect(nullptr, &writeSet, nLeft) < 0) return JX_ERR_FAIL;
    }
    return nDone;
}
