// The socket handle holder and the TCP control connection: a connect that
// never holds its caller longer than a fixed time, and non-blocking send and
// receive for the worker's passes.
#include "JXSocket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

namespace {

typedef std::chrono::steady_clock Clock;

// Longest host text taken (a DNS name has at most 253 characters).
constexpr size_t kMaxHostLen = 255;
// Name lookups abandoned by Open that may still run at once; beyond this a
// hanging name service makes Open fail at once instead of adding threads.
constexpr int32_t kMaxPendingLookups = 64;

std::atomic<int32_t> s_PendingLookups{0};

// Milliseconds until deadline, at least 0.
int32_t MsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int32_t>(left) : 0;
}

// One name lookup, shared by the thread that runs it and the caller that
// waits for it. Whoever comes last releases it, so an abandoned lookup frees
// its own result.
struct CLookup {
    std::mutex m_Mutex;
    std::condition_variable m_Done;
    std::string m_Host;
    std::string m_Port;
    bool m_Finished = false;
    bool m_Abandoned = false;
    int m_Result = 0;
    addrinfo* m_List = nullptr;
};

void RunLookup(std::shared_ptr<CLookup> pLookup, JXResolveFunc pResolve)
{
    JXNetStartup();
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* pList = nullptr;
    int nResult = pResolve(pLookup->m_Host.c_str(), pLookup->m_Port.c_str(), &hints, &pList);
    {
        std::lock_guard<std::mutex> lock(pLookup->m_Mutex);
        if (pLookup->m_Abandoned) {
            if (nResult == 0 && pList) freeaddrinfo(pList);
        } else {
            pLookup->m_Result = nResult;
            pLookup->m_List = nResult == 0 ? pList : nullptr;
        }
        pLookup->m_Finished = true;
    }
    pLookup->m_Done.notify_all();
    JXNetCleanup();
    --s_PendingLookups;
}

// Resolve a host name on a helper thread, waiting until the deadline at most.
// JX_OK with *ppList set (freeaddrinfo), JX_ERR_TIMEOUT or JX_ERR_FAIL.
int32_t ResolveName(const char* pHost, const char* pPort, Clock::time_point deadline, addrinfo** ppList)
{
    std::shared_ptr<CLookup> pLookup;
    try {
        pLookup = std::make_shared<CLookup>();
        pLookup->m_Host = pHost;
        pLookup->m_Port = pPort;
    } catch (const std::bad_alloc&) {
        return JX_ERR_FAIL;
    }
    if (++s_PendingLookups > kMaxPendingLookups) {
        --s_PendingLookups;
        return JX_ERR_TIMEOUT;
    }
    try {
        std::thread(RunLookup, pLookup, JXNetGetResolver()).detach();
    } catch (const std::exception&) {
        --s_PendingLookups;
        return JX_ERR_FAIL;
    }

    std::unique_lock<std::mutex> lock(pLookup->m_Mutex);
    if (!pLookup->m_Done.wait_until(lock, deadline, [&] { return pLookup->m_Finished; })) {
        pLookup->m_Abandoned = true;   // the thread frees its result when it ends
        return JX_ERR_TIMEOUT;
    }
    if (pLookup->m_Result != 0 || pLookup->m_List == nullptr) return JX_ERR_FAIL;
    *ppList = pLookup->m_List;
    pLookup->m_List = nullptr;
    return JX_OK;
}

// Addresses for host text without brackets: numeric text is converted at once,
// anything else goes to the name service. JX_OK, JX_ERR_TIMEOUT or JX_ERR_FAIL.
int32_t Resolve(const char* pHost, const char* pPort, Clock::time_point deadline, addrinfo** ppList)
{
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    if (getaddrinfo(pHost, pPort, &hints, ppList) == 0 && *ppList) return JX_OK;
    *ppList = nullptr;
    return ResolveName(pHost, pPort, deadline, ppList);
}

// Connect one address within the deadline. The connected non-blocking socket,
// or JX_INVALID_SOCKET with *pError set to JX_ERR_TIMEOUT or JX_ERR_FAIL.
JXSOCKET ConnectOne(const addrinfo* pAddr, Clock::time_point deadline, int32_t* pError)
{
    *pError = JX_ERR_FAIL;
    JXSOCKET s = JXSocketCreate(pAddr->ai_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == JX_INVALID_SOCKET) return s;
    if (JXSocketSetBlocking(s, 0) != JX_OK) {
        JXSocketClose(s);
        return JX_INVALID_SOCKET;
    }
    // Requests are small and answered one at a time: do not let Nagle hold them.
    JXSocketSetOptInt(s, IPPROTO_TCP, TCP_NODELAY, 1);

    if (JXSocketConnect(s, pAddr->ai_addr, static_cast<int32_t>(pAddr->ai_addrlen)) == JX_OK) return s;
    if (JXSocketLastError() != JX_NET_ERR_WOULDBLOCK) {
        JXSocketClose(s);
        return JX_INVALID_SOCKET;
    }

    CJXFdSet writeSet;
    writeSet.Add(s);
    int32_t nReady = JXSelect(nullptr, &writeSet, MsLeft(deadline));
    int32_t nSoError = -1;
    if (nReady > 0 && JXSocketGetOptInt(s, SOL_SOCKET, SO_ERROR, &nSoError) == JX_OK && nSoError == 0) return s;
    if (nReady == 0) *pError = JX_ERR_TIMEOUT;
    JXSocketClose(s);
    return JX_INVALID_SOCKET;
}

} // namespace

CJXSocket::CJXSocket()
{
    JXNetStartup();
}

CJXSocket::~CJXSocket()
{
    CJXSocket::Close();
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

CJXSocketTCP::CJXSocketTCP() : m_SendBuf(nullptr, 5), m_RecvBuf(nullptr, 5)
{
}

CJXSocketTCP::~CJXSocketTCP()
{
    CJXSocketTCP::Close();
}

int32_t CJXSocketTCP::Open(const char* pHost, uint16_t nPort, uint32_t nTimeoutMs)
{
    if (CJXString::IsEmpty(pHost) || nPort == 0) return JX_ERR_ARG;
    if (nTimeoutMs == 0 || nTimeoutMs > kConnectTimeoutMs) nTimeoutMs = kConnectTimeoutMs;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);

    // "[::1]" and "::1" name the same address; the brackets are URL syntax.
    size_t nLen = strlen(pHost);
    if (pHost[0] == '[') {
        if (nLen < 3 || pHost[nLen - 1] != ']') return JX_ERR_ARG;
        ++pHost;
        nLen -= 2;
    }
    if (nLen > kMaxHostLen) return JX_ERR_ARG;
    char host[kMaxHostLen + 1];
    memcpy(host, pHost, nLen);
    host[nLen] = '\0';
    if (strchr(host, '[') || strchr(host, ']')) return JX_ERR_ARG;
    char port[8];
    snprintf(port, sizeof(port), "%u", static_cast<unsigned>(nPort));

    CJXSocket::Close();   // a socket left from an earlier connection
    addrinfo* pList = nullptr;
    int32_t nRet = Resolve(host, port, deadline, &pList);
    if (nRet != JX_OK) return nRet;

    // Each address in turn (a name may give ::1 and 127.0.0.1) within the one
    // time limit; a time-out anywhere is what the caller hears.
    nRet = JX_ERR_FAIL;
    for (const addrinfo* p = pList; p; p = p->ai_next) {
        if (p->ai_family != AF_INET && p->ai_family != AF_INET6) continue;
        if (MsLeft(deadline) == 0) {
            nRet = JX_ERR_TIMEOUT;
            break;
        }
        int32_t nError = JX_ERR_FAIL;
        m_Socket = ConnectOne(p, deadline, &nError);
        if (m_Socket != JX_INVALID_SOCKET) {
            nRet = JX_OK;
            break;
        }
        if (nError == JX_ERR_TIMEOUT) nRet = JX_ERR_TIMEOUT;
    }
    freeaddrinfo(pList);
    return nRet;
}

void CJXSocketTCP::Close()
{
    CJXSocket::Close();
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
    if (nGot == 0) return JX_ERR_FAIL;   // the peer closed the connection
    return JXSocketLastError() == JX_NET_ERR_WOULDBLOCK ? 0 : JX_ERR_FAIL;
}

int32_t CJXSocketTCP::OnSend(CJXFdSet* pWrite, const char* pData, int32_t n)
{
    if (!IsValid()) return JX_ERR_FAIL;
    if (n == 0) return 0;
    if (pData == nullptr || n < 0) return JX_ERR_ARG;
    if (pWrite && !pWrite->IsSet(m_Socket)) return 0;
    int32_t nSent = JXSocketSend(m_Socket, pData, n);
    if (nSent >= 0) return nSent;
    return JXSocketLastError() == JX_NET_ERR_WOULDBLOCK ? 0 : JX_ERR_FAIL;
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
